#include "iedefs.h"

const int IEPixelFormatBitCount[kIEPixelFormatCount] = {0, 1, 8, 8, 16, 24, 32, 32, 48, 24, 32};
const int IEPixelFormatChannelCount[kIEPixelFormatCount] = {0, 1, 1, 1, 1, 3, 1, 4, 3, 3, 4};

int IEGrayWeightRed = 21;
int IEGrayWeightGreen = 71;
int IEGrayWeightBlue = 8;
uint8_t IEDialogBackgroundStyle = 0;
std::string IELibraryVersion = "3.1.1";

void IEDefsStaticInit() {
  IEGrayWeightRed = 21;
  IEGrayWeightGreen = 71;
  IEGrayWeightBlue = 8;
  IEDialogBackgroundStyle = 0;
}

void IEDefsStaticFini() {}
