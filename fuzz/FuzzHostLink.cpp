// Fuzz entry point of the host-link message parser: the input is what a
// host sends. The device side reads it through the remote file operations
// (every reply it parses), then as raw messages until it runs out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ce/msgbox.h"
#include "cesim/msgbox.h"
#include "hostlink/ControlMessage.h"
#include "hostlink/DistributedFile.h"
#include "hostlink/Transport.h"

namespace {

// A connection whose host side is a fixed byte stream; sends always go.
class StreamConnection : public QuilmoConnection {
 public:
  StreamConnection(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Open() override { return true; }
  bool Listen(int) override { return true; }
  bool Connect() override { return true; }
  bool Accept() override { return true; }
  DWORD SendBytes(const BYTE*, DWORD length) override { return length; }
  DWORD RecvBytes(BYTE* buffer, DWORD length, DWORD) override {
    size_t n = std::min<size_t>(length, size_ - at_);
    if (n) std::memcpy(buffer, data_ + at_, n);
    at_ += n;
    return static_cast<DWORD>(n);
  }
  bool Exhausted() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void InitOnce() {
  static const bool done = [] {
    // Boxes of the log front end (before the log starts) answer at once.
    ce::SetMessageBoxService([](const ce::MessageBoxRequest&) { return IDOK; });
    return true;
  }();
  (void)done;
}

}  // namespace

int FuzzControlMessage(const uint8_t* data, size_t size) {
  InitOnce();
  auto connection = std::make_shared<StreamConnection>(data, size);
  {
    ADistributedFile file(connection, u"fuzz.pbf");
    file.Open(0x40000000, 2, 0x80);
    static std::vector<BYTE> buffer(ImageFormat::kReadAheadSize);
    DWORD got = 0;
    if (file.Read(buffer.data(), static_cast<DWORD>(buffer.size()), &got) && got > buffer.size())
      abort();
    file.Read(buffer.data(), 16, nullptr);
    DWORD value = 0;
    file.GetFileSize(&value);
    file.GetFilePointer(&value);
    file.SetFilePointer(0, 0);
    HostFindDataArray entries;
    if (file.GetDirectory(entries) &&
        static_cast<DWORD>(entries.GetSize()) > ControlMessageFormat::kMaxListingEntries)
      abort();
    file.Close();
  }
  for (int i = 0; i < 64 && !connection->Exhausted(); ++i) {
    AControlMessage message;
    if (!message.Receive(connection.get(), 0)) break;
    DWORD length = message.GetLength();
    if (length > ControlMessageFormat::kMaxPayload) abort();
    if ((length != 0) != message.OwnsPayload()) abort();
    DWORD value = 0;
    if (message.ReadDWord(length, &value)) abort();  // past the end
    if (length >= 4 && !message.ReadDWord(length - 4, &value)) abort();
  }
  return 0;
}
