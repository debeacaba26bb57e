// Extension blocks of a frame: graphic control, plain text, comment and application extensions,
// with the registries that map a block's label and application identifier to its class.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "gifimage.h"

class TGIFExtension;

// A class of extension as the reader meets it: how to make one for a frame and, for the block whose
// label has just been read, which class should read it instead (the application extension picks the
// class registered for the block's identifier). A null ResolveClass keeps the class; a null Create
// marks a class that only resolves.
struct TGIFExtensionClass {
  std::unique_ptr<TGIFExtension> (*Create)(TGIFSubImage* frame);
  const TGIFExtensionClass* (*ResolveClass)(TGIFByteStream& stream);
};

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

// Creates the extension object for the block at the stream's position (the position is kept): the
// class registered for its label, refined by that class's ResolveClass until the answer stays. Null
// at the end of the stream; raises "Unknown extension type" for an unregistered label.
std::unique_ptr<TGIFExtension> CreateExtensionFor(TGIFByteStream& stream, TGIFSubImage* frame);

// Extension label -> class: 1 text, 249 graphic control, 254 comment, 255 application at the start.
// Looked up from the latest registration back, so a later one overrides an earlier one.
class TExtensionList {
 public:
  void Add(uint8_t label, const TGIFExtensionClass* extensionClass);
  // Takes every registration of the class away.
  void Remove(const TGIFExtensionClass* extensionClass);
  const TGIFExtensionClass* Find(uint8_t label) const;

 private:
  std::vector<std::pair<uint8_t, const TGIFExtensionClass*>> items_;
};

// Application identifier (all 11 bytes) -> class: "NETSCAPE2.0" and "ANIMEXTS1.0" are loop-count
// extensions at the start; unregistered identifiers are read as TGIFUnknownAppExtension. Looked up
// from the latest registration back.
class TAppExtensionList {
 public:
  using TIdentifier = std::array<uint8_t, 11>;
  void Add(const TIdentifier& identifier, const TGIFExtensionClass* extensionClass);
  void Add(const char (&identifier)[12], const TGIFExtensionClass* extensionClass);
  void Remove(const TGIFExtensionClass* extensionClass);
  const TGIFExtensionClass* Find(const TIdentifier& identifier) const;

 private:
  std::vector<std::pair<TIdentifier, const TGIFExtensionClass*>> items_;
};

// The registries, made with their standard entries on first use (by one thread, when several ask at
// once); freed by GIFImageFinalize. Registering while other threads read GIF files is the caller's
// to order.
TExtensionList& ExtensionList();
TAppExtensionList& AppExtensionList();
void FreeExtensionRegistries();

class TGIFGraphicControlExtension : public TGIFExtension {
 public:
  static const TGIFExtensionClass Class;
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
  static const TGIFExtensionClass Class;
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
  static const TGIFExtensionClass Class;
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
  // Resolves only: to the class registered for the block's identifier, else TGIFUnknownAppExtension.
  static const TGIFExtensionClass Class;
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
  static const TGIFExtensionClass Class;
  explicit TGIFUnknownAppExtension(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {}
  std::vector<std::vector<uint8_t>> Blocks;  // each 1..255 bytes

 protected:
  void SaveApplicationData(TGIFByteStream& stream) override;
  void LoadApplicationData(TGIFByteStream& stream) override;
};

// "NETSCAPE2.0" / "ANIMEXTS1.0": loop count and buffer size.
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
 public:
  static const TGIFExtensionClass Class;
  explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
  uint16_t Loops = 0;
  uint32_t BufferSize = 0;  // 0 = absent

 protected:
  void SaveApplicationData(TGIFByteStream& stream) override;
  void LoadApplicationData(TGIFByteStream& stream) override;
};
