// Extension blocks of a frame: graphic control, plain text, comment and application extensions,
// with the registries that map a block's label and application identifier to its class.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "gifimage.h"

class TGIFExtension : public TGIFItem {
 public:
  explicit TGIFExtension(TGIFSubImage* frame);
  TGIFSubImage* Frame() const { return frame_; }
  int RequiredVersion() const override { return 2; }
  virtual uint8_t Label() const = 0;
  // Writes "!" and the label, then the body.
  void SaveToStream(TGIFByteStream& stream) override;
  // Reads "!" and the label (checked against the class's own), then the body.
  void LoadFromStream(TGIFByteStream& stream) override;

 protected:
  virtual void SaveBody(TGIFByteStream& stream) = 0;
  virtual void LoadBody(TGIFByteStream& stream) = 0;

 private:
  TGIFSubImage* frame_;
};

// Creates the extension object for the block at the stream's position (the position is kept);
// null at the end of the stream; raises "Unknown extension type" for an unregistered label.
std::unique_ptr<TGIFExtension> CreateExtensionFor(TGIFByteStream& stream, TGIFSubImage* frame);

class TGIFGraphicControlExtension : public TGIFExtension {
 public:
  explicit TGIFGraphicControlExtension(TGIFSubImage* frame);
  ~TGIFGraphicControlExtension() override;
  uint8_t Label() const override { return 249; }
  bool Transparent() const { return (body_[1] & 1) != 0; }
  void SetTransparent(bool on);
  bool UserInput() const { return (body_[1] & 2) != 0; }
  void SetUserInput(bool on) { body_[1] = uint8_t((body_[1] & ~2) | (on ? 2 : 0)); }
  int Disposal() const { return (body_[1] >> 2) & 7; }
  void SetDisposal(int d) { body_[1] = uint8_t((body_[1] & ~0x1C) | ((d & 7) << 2)); }
  int Delay() const { return ReadU16LE(&body_[2]); }
  void SetDelay(int hundredths) { WriteU16LE(&body_[2], uint16_t(hundredths)); }
  int TransparentColorIndex() const { return body_[4]; }
  // An index beyond a non-empty active map warns "Invalid color index" and stores 0.
  void SetTransparentColorIndex(int index);

 protected:
  void SaveBody(TGIFByteStream& stream) override;
  void LoadBody(TGIFByteStream& stream) override;

 private:
  std::array<uint8_t, 6> body_{4, 0, 0, 0, 0, 0};
};

class TGIFTextExtension : public TGIFExtension {
 public:
  explicit TGIFTextExtension(TGIFSubImage* frame) : TGIFExtension(frame) {}
  uint8_t Label() const override { return 1; }
  std::array<uint8_t, 13>& Body() { return body_; }  // size, grid bounds, cell size, colours
  TGIFLines Lines;

 protected:
  void SaveBody(TGIFByteStream& stream) override;
  void LoadBody(TGIFByteStream& stream) override;

 private:
  std::array<uint8_t, 13> body_{12};
};

class TGIFCommentExtension : public TGIFExtension {
 public:
  explicit TGIFCommentExtension(TGIFSubImage* frame) : TGIFExtension(frame) {}
  uint8_t Label() const override { return 254; }
  TGIFLines Lines;

 protected:
  void SaveBody(TGIFByteStream& stream) override { WriteSubBlockLines(stream, Lines); }
  void LoadBody(TGIFByteStream& stream) override { ReadSubBlockLines(stream, Lines); }
};

class TGIFApplicationExtension : public TGIFExtension {
 public:
  using TIdentifier = std::array<uint8_t, 11>;  // 8 identifier bytes, 3 authentication bytes
  explicit TGIFApplicationExtension(TGIFSubImage* frame) : TGIFExtension(frame) {}
  uint8_t Label() const override { return 255; }
  TIdentifier Identifier{};

 protected:
  void SaveBody(TGIFByteStream& stream) override;
  void LoadBody(TGIFByteStream& stream) override;
  virtual void SaveApplicationData(TGIFByteStream& stream) = 0;
  virtual void LoadApplicationData(TGIFByteStream& stream) = 0;
};

// An application extension kept as its raw data sub-blocks.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
 public:
  explicit TGIFUnknownAppExtension(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {}
  std::vector<std::vector<uint8_t>> Blocks;  // each 1..255 bytes

 protected:
  void SaveApplicationData(TGIFByteStream& stream) override;
  void LoadApplicationData(TGIFByteStream& stream) override;
};

// "NETSCAPE2.0" / "ANIMEXTS1.0": loop count and buffer size.
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
 public:
  explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
  uint16_t Loops = 0;
  uint32_t BufferSize = 0;  // 0 = absent

 protected:
  void SaveApplicationData(TGIFByteStream& stream) override;
  void LoadApplicationData(TGIFByteStream& stream) override;
};
