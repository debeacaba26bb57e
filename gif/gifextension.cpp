#include "gifextension.h"

#include <cstring>

namespace {

const uint8_t kExtensionIntroducer = '!';

// Application identifiers with a class of their own; all others are kept as raw blocks.
const char* const kLoopIdentifiers[] = {"NETSCAPE2.0", "ANIMEXTS1.0"};

void ReadAndDrop(TGIFByteStream& stream, size_t count) {
  uint8_t scratch[256];
  ReadStreamExact(stream, scratch, count);
}

}  // namespace

TGIFExtension::TGIFExtension(TGIFSubImage* frame) : TGIFItem(frame->Image()), frame_(frame) {}

void TGIFExtension::SaveToStream(TGIFByteStream& stream) {
  uint8_t head[2] = {kExtensionIntroducer, Label()};
  stream.Write(head, 2);
  SaveBody(stream);
}

void TGIFExtension::LoadFromStream(TGIFByteStream& stream) {
  uint8_t head[2];
  ReadStreamExact(stream, head, 2);
  if (head[0] != kExtensionIntroducer) RaiseGIFError("Invalid extension introducer");
  if (head[1] != Label()) RaiseGIFError("Internal error: Extension Instance does not match Extension Label");
  LoadBody(stream);
}

std::unique_ptr<TGIFExtension> CreateExtensionFor(TGIFByteStream& stream, TGIFSubImage* frame) {
  const uint64_t start = stream.Position();
  struct Restore {
    TGIFByteStream& s;
    uint64_t p;
    ~Restore() { s.SetPosition(p); }
  } restore{stream, start};
  uint8_t head[2];
  size_t got = stream.Read(head, 2);
  if (got < 2) {
    if (got == 0) return nullptr;
    RaiseGIFError("Premature end of data");
  }
  switch (head[1]) {
    case 1: return std::make_unique<TGIFTextExtension>(frame);
    case 249: return std::make_unique<TGIFGraphicControlExtension>(frame);
    case 254: return std::make_unique<TGIFCommentExtension>(frame);
    case 255: break;
    default: RaiseGIFError("Unknown extension type");
  }
  int size = ReadStreamByte(stream);
  if (size < 0) RaiseGIFError("Premature end of data");
  if (size != 10 && size != 11) RaiseGIFError("Unsupported Application Extension block size");
  uint8_t id[11];
  ReadStreamExact(stream, id, size_t(size));
  if (size == 11)
    for (const char* known : kLoopIdentifiers)
      if (std::memcmp(id, known, 11) == 0) return std::make_unique<TGIFAppExtNSLoop>(frame);
  return std::make_unique<TGIFUnknownAppExtension>(frame);
}

// --- graphic control ---

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* frame) : TGIFExtension(frame) {
  if (!frame->graphicControl_) frame->graphicControl_ = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
  if (Frame()->graphicControl_ == this) {
    Frame()->graphicControl_ = nullptr;
    if (Transparent()) Frame()->SetTransparentFlag(false);
  }
}

void TGIFGraphicControlExtension::SetTransparent(bool on) {
  body_[1] = uint8_t((body_[1] & ~1) | (on ? 1 : 0));
  if (on) Frame()->SetTransparentFlag(true);
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int index) {
  const int count = Frame()->ActiveColorMap().Count();
  if (index < 0 || index > 255 || (count > 0 && index >= count)) {
    ReportWarning("Invalid color index");
    index = 0;
  }
  body_[4] = uint8_t(index);
}

void TGIFGraphicControlExtension::SaveBody(TGIFByteStream& stream) { stream.Write(body_.data(), 6); }

void TGIFGraphicControlExtension::LoadBody(TGIFByteStream& stream) {
  uint8_t body[6];
  if (stream.Read(body, 6) != 6) {
    ReportWarning("Premature end of data");
    return;
  }
  std::memcpy(body_.data(), body, 6);
  if (Transparent()) Frame()->SetTransparentFlag(true);
}

// --- plain text ---

void TGIFTextExtension::SaveBody(TGIFByteStream& stream) {
  stream.Write(body_.data(), body_.size());
  WriteSubBlockLines(stream, Lines);
}

void TGIFTextExtension::LoadBody(TGIFByteStream& stream) {
  ReadStreamExact(stream, body_.data(), body_.size());
  ReadSubBlockLines(stream, Lines);
}

// --- application ---

void TGIFApplicationExtension::SaveBody(TGIFByteStream& stream) {
  WriteStreamByte(stream, 11);
  stream.Write(Identifier.data(), Identifier.size());
  SaveApplicationData(stream);
}

void TGIFApplicationExtension::LoadBody(TGIFByteStream& stream) {
  int size = ReadStreamByte(stream);
  if (size < 0) RaiseGIFError("Premature end of data");
  if (size < 10 || size > 11) RaiseGIFError("Unsupported Application Extension block size");
  Identifier.fill(0);
  ReadStreamExact(stream, Identifier.data(), size_t(size));
  LoadApplicationData(stream);
}

void TGIFUnknownAppExtension::SaveApplicationData(TGIFByteStream& stream) {
  for (const auto& block : Blocks) {
    if (block.empty()) continue;
    WriteStreamByte(stream, uint8_t(block.size()));
    stream.Write(block.data(), block.size());
  }
  WriteStreamByte(stream, 0);
}

void TGIFUnknownAppExtension::LoadApplicationData(TGIFByteStream& stream) {
  Blocks.clear();
  for (int n = ReadStreamByte(stream); n > 0; n = ReadStreamByte(stream)) {
    std::vector<uint8_t> block(static_cast<size_t>(n));
    ReadStreamExact(stream, block.data(), block.size());
    Blocks.push_back(std::move(block));
  }
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {
  std::memcpy(Identifier.data(), "NETSCAPE2.0", 11);
}

void TGIFAppExtNSLoop::SaveApplicationData(TGIFByteStream& stream) {
  uint8_t loop[5] = {3, 1};
  WriteU16LE(loop + 2, Loops);
  stream.Write(loop, 4);
  if (BufferSize != 0) {
    uint8_t buffer[6] = {5, 2};
    WriteU32LE(buffer + 2, BufferSize);
    stream.Write(buffer, 6);
  }
  WriteStreamByte(stream, 0);
}

void TGIFAppExtNSLoop::LoadApplicationData(TGIFByteStream& stream) {
  for (int a = ReadStreamByte(stream); a > 0; a = ReadStreamByte(stream)) {
    uint8_t id;
    ReadStreamExact(stream, &id, 1);
    uint8_t value[4];
    if ((id & 7) == 1) {
      if (a < 3) RaiseGIFError("Invalid GIF data");
      ReadStreamExact(stream, value, 2);
      Loops = ReadU16LE(value);
      ReadAndDrop(stream, size_t(a - 3));
    } else if ((id & 7) == 2) {
      if (a < 5) RaiseGIFError("Invalid GIF data");
      ReadStreamExact(stream, value, 4);
      BufferSize = ReadU32LE(value);
      ReadAndDrop(stream, size_t(a - 5));
    } else {
      ReadAndDrop(stream, size_t(a - 1));
    }
  }
}
