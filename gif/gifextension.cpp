#include "gifextension.h"

#include <algorithm>
#include <cstring>

namespace {

const uint8_t kExtensionIntroducer = '!';

// Refinements of an extension's class one after another: a registry whose classes keep pointing at
// each other must not hold the reader forever.
const int kMaxResolveSteps = 16;

void ReadAndDrop(TGIFByteStream& stream, size_t count) {
  uint8_t scratch[256];
  ReadStreamExact(stream, scratch, count);
}

template <class T>
std::unique_ptr<TGIFExtension> MakeExtension(TGIFSubImage* frame) {
  return std::make_unique<T>(frame);
}

// The block's size byte and identifier pick the class: the one registered for an 11-byte identifier,
// else the class that keeps the blocks as they are.
const TGIFExtensionClass* ResolveApplicationClass(TGIFByteStream& stream) {
  const int size = ReadStreamByte(stream);
  if (size < 0) RaiseGIFError("Premature end of data");
  if (size != 10 && size != 11) RaiseGIFError("Unsupported Application Extension block size");
  TAppExtensionList::TIdentifier identifier{};
  ReadStreamExact(stream, identifier.data(), size_t(size));
  if (size == 11)
    if (const TGIFExtensionClass* registered = AppExtensionList().Find(identifier)) return registered;
  return &TGIFUnknownAppExtension::Class;
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
  const TGIFExtensionClass* extensionClass = ExtensionList().Find(head[1]);
  if (!extensionClass) RaiseGIFError("Unknown extension type");
  const uint64_t body = stream.Position();
  for (int step = 0; step < kMaxResolveSteps && extensionClass->ResolveClass; ++step) {
    const TGIFExtensionClass* better = extensionClass->ResolveClass(stream);
    stream.SetPosition(body);
    if (!better || better == extensionClass) break;
    extensionClass = better;
  }
  if (!extensionClass->Create) RaiseGIFError("Unsupported Application Extension block size");
  return extensionClass->Create(frame);
}

// --- registries ---

void TExtensionList::Add(uint8_t label, const TGIFExtensionClass* extensionClass) {
  items_.emplace_back(label, extensionClass);
}

void TExtensionList::Remove(const TGIFExtensionClass* extensionClass) {
  items_.erase(std::remove_if(items_.begin(), items_.end(), [&](const auto& e) { return e.second == extensionClass; }),
               items_.end());
}

const TGIFExtensionClass* TExtensionList::Find(uint8_t label) const {
  for (auto it = items_.rbegin(); it != items_.rend(); ++it)
    if (it->first == label) return it->second;
  return nullptr;
}

void TAppExtensionList::Add(const TIdentifier& identifier, const TGIFExtensionClass* extensionClass) {
  items_.emplace_back(identifier, extensionClass);
}

void TAppExtensionList::Add(const char (&identifier)[12], const TGIFExtensionClass* extensionClass) {
  TIdentifier id;
  std::memcpy(id.data(), identifier, id.size());
  Add(id, extensionClass);
}

void TAppExtensionList::Remove(const TGIFExtensionClass* extensionClass) {
  items_.erase(std::remove_if(items_.begin(), items_.end(), [&](const auto& e) { return e.second == extensionClass; }),
               items_.end());
}

const TGIFExtensionClass* TAppExtensionList::Find(const TIdentifier& identifier) const {
  for (auto it = items_.rbegin(); it != items_.rend(); ++it)
    if (it->first == identifier) return it->second;
  return nullptr;
}

namespace {

// The registries with the lock under which they are made: two threads that read their first GIF at
// the same time must not both make them. Made on first use (a function's static is made once, also
// under threads) and never freed, so that the unit's shut-down, whenever it runs, finds it.
struct TRegistries {
  ui::TCriticalSection lock;
  std::unique_ptr<TExtensionList> extensions;
  std::unique_ptr<TAppExtensionList> applications;
};

TRegistries& Registries() {
  static TRegistries* registries = new TRegistries;
  return *registries;
}

// Holds the registries' lock for a scope.
class TRegistryLock {
 public:
  explicit TRegistryLock(TRegistries& registries) : registries_(registries) { registries_.lock.Enter(); }
  ~TRegistryLock() { registries_.lock.Leave(); }
  TRegistryLock(const TRegistryLock&) = delete;
  TRegistryLock& operator=(const TRegistryLock&) = delete;

 private:
  TRegistries& registries_;
};

}  // namespace

TExtensionList& ExtensionList() {
  TRegistries& registries = Registries();
  TRegistryLock lock(registries);
  if (!registries.extensions) {
    auto list = std::make_unique<TExtensionList>();
    list->Add(1, &TGIFTextExtension::Class);
    list->Add(249, &TGIFGraphicControlExtension::Class);
    list->Add(254, &TGIFCommentExtension::Class);
    list->Add(255, &TGIFApplicationExtension::Class);
    registries.extensions = std::move(list);
  }
  return *registries.extensions;
}

TAppExtensionList& AppExtensionList() {
  TRegistries& registries = Registries();
  TRegistryLock lock(registries);
  if (!registries.applications) {
    auto list = std::make_unique<TAppExtensionList>();
    list->Add("NETSCAPE2.0", &TGIFAppExtNSLoop::Class);
    list->Add("ANIMEXTS1.0", &TGIFAppExtNSLoop::Class);
    registries.applications = std::move(list);
  }
  return *registries.applications;
}

void FreeExtensionRegistries() {
  TRegistries& registries = Registries();
  TRegistryLock lock(registries);
  registries.extensions.reset();
  registries.applications.reset();
}

const TGIFExtensionClass TGIFGraphicControlExtension::Class = {&MakeExtension<TGIFGraphicControlExtension>, nullptr};
const TGIFExtensionClass TGIFTextExtension::Class = {&MakeExtension<TGIFTextExtension>, nullptr};
const TGIFExtensionClass TGIFCommentExtension::Class = {&MakeExtension<TGIFCommentExtension>, nullptr};
const TGIFExtensionClass TGIFApplicationExtension::Class = {nullptr, &ResolveApplicationClass};
const TGIFExtensionClass TGIFUnknownAppExtension::Class = {&MakeExtension<TGIFUnknownAppExtension>, nullptr};
const TGIFExtensionClass TGIFAppExtNSLoop::Class = {&MakeExtension<TGIFAppExtNSLoop>, nullptr};

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
