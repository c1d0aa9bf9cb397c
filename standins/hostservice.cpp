// The desktop host service: a plain Linux program that keeps the device's
// backup images in one folder and serves them over the host link.
//
//   hostservice --port PORT --folder DIR [--bind ADDR] [--ask-partnership]
//               [--partner ID]... [--refuse] [--extra-code CODE]...
//               [--notices FILE] [--idle-timeout SECONDS]
//               [--handshake-timeout SECONDS]
//
// --port 0 picks a free port. The first line on stdout is
// "hostservice listening on ADDR:PORT folder DIR". The service answers the
// device right after it connects: code 0 (accepted), or first code 2 (asks
// for the partnership ids; with --partner only a device naming one of those
// ids is accepted), or code 1 (--refuse: refused, after the partnership
// exchange when both are given). --extra-code sends that code (3 or more,
// which the device skips) before the decision.
//
// Images are kept in DIR by file name: the device sends its own path
// ("\temp\Backup.pbf"), whose folder part (either separator) is dropped, so
// "Backup.pbf" is written, listed and read back. A name that is empty,
// holds a "." or ".." component, or whose file name is hidden (a leading
// dot), ends in a blank or dot or holds a reserved character is refused
// (error 123); no symbolic link is followed. The operation notices are
// appended to FILE (default DIR/.notices.log) and echoed to stdout.
//
// A device has --handshake-timeout seconds (default 10) from its connect
// to send its first whole message (the partnership reply when one is asked
// for, else its first request); a connection that stays silent that long
// is dropped. After that, a device silent for --idle-timeout seconds
// (default 3600) is let go. At most eight devices are served at once: while
// one of the eight has yet to send its first message, the next device waits
// in the listen queue for its place; when all eight are past that, more are
// refused (code 1). A file open for writing is open to no one else. A write that
// fails is reported by the next reply of that file (Close included), since
// writes have no reply of their own. SIGTERM or SIGINT end the service:
// open connections are dropped and the program exits with 0.
//
// This program shares no code with the device side: it carries its own
// framing (8-byte little-endian header: u16 kind, u16 code, u32 length).
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// --- Protocol constants ---------------------------------------------------

enum Kind : uint16_t { kRequest = 0, kReply = 1, kErrorReply = 2 };
enum Code : uint16_t {
  kAccepted = 0, kShutdown = 1, kPartnership = 2, kRemoteFile = 3,
  kOperationStart = 4, kOperationComplete = 5, kOperationFailed = 6,
};
enum Command : uint32_t {
  kOpen = 0, kClose = 1, kRead = 2, kWrite = 3, kSeek = 4, kGetPosition = 5,
  kGetSize = 6, kGetDirectory = 7,
};

constexpr uint32_t kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u, kGenericAll = 0x10000000u;
constexpr uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3, kOpenAlways = 4,
                   kTruncateExisting = 5;
constexpr uint32_t kFileBegin = 0, kFileCurrent = 1, kFileEnd = 2;
constexpr uint32_t kAttrReadOnly = 0x01, kAttrArchive = 0x20;

// Win32 error numbers of the error replies.
constexpr uint32_t kErrInvalidFunction = 1, kErrFileNotFound = 2, kErrPathNotFound = 3,
                   kErrTooManyOpenFiles = 4, kErrAccessDenied = 5, kErrInvalidHandle = 6,
                   kErrWriteProtect = 19, kErrGenFailure = 31, kErrSharingViolation = 32,
                   kErrFileExists = 80, kErrInvalidParameter = 87, kErrDiskFull = 112,
                   kErrInvalidName = 123, kErrNegativeSeek = 131, kErrFilenameTooLong = 206,
                   kErrFileTooLarge = 223;

constexpr size_t kHeaderSize = 8;
constexpr size_t kFindDataSize = 592;
constexpr size_t kMaxPathChars = 260;        // including the NUL
constexpr size_t kMaxRequest = 64 * 1024;    // any payload except a Write's data
constexpr size_t kMaxReadReply = 1 << 20;    // bytes one Read reply carries at most
constexpr size_t kIoChunk = 64 * 1024;       // Write data is stored in pieces of this size
constexpr size_t kMaxListing = 1000;         // entries of one directory reply
constexpr size_t kMaxPartnerIds = 1024;
constexpr int kMaxSessions = 8;
constexpr const char* kListingName = "prompt_user";

// --- Little-endian and text helpers ---------------------------------------

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
void Append32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  Put32(b, v);
  out.insert(out.end(), b, b + 4);
}

// UTF-16LE code units (up to the first NUL) -> UTF-8; bad surrogates become U+FFFD.
std::string Utf16ToUtf8(const uint8_t* p, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    uint32_t c = p[2 * i] | p[2 * i + 1] << 8;
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      uint32_t d = p[2 * i + 2] | p[2 * i + 3] << 8;
      if (d >= 0xDC00 && d <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
        ++i;
      } else {
        c = 0xFFFD;
      }
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6);
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | c >> 12);
      out += char(0x80 | (c >> 6 & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | c >> 18);
      out += char(0x80 | (c >> 12 & 0x3F));
      out += char(0x80 | (c >> 6 & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// UTF-8 -> UTF-16 code units; nullopt for malformed text.
std::optional<std::u16string> Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    uint8_t b = uint8_t(s[i]);
    uint32_t c;
    size_t n;
    if (b < 0x80) { c = b; n = 1; }
    else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; n = 2; }
    else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; n = 3; }
    else if ((b & 0xF8) == 0xF0) { c = b & 0x07; n = 4; }
    else return std::nullopt;
    if (i + n > s.size()) return std::nullopt;
    for (size_t k = 1; k < n; ++k) {
      uint8_t t = uint8_t(s[i + k]);
      if ((t & 0xC0) != 0x80) return std::nullopt;
      c = c << 6 | (t & 0x3F);
    }
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out += char16_t(c);
    }
    i += n;
  }
  return out;
}

// Control characters become blanks so that one notice stays one log line.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (uint8_t(c) < 0x20 || c == 0x7F) c = ' ';
  return s;
}

bool EqualNoCaseAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

uint64_t ToFileTime(const timespec& t) {
  return (uint64_t(t.tv_sec) + 11644473600ull) * 10000000ull + uint64_t(t.tv_nsec) / 100;
}

std::string Now() {
  time_t t = time(nullptr);
  tm local{};
  localtime_r(&t, &local);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return buf;
}

uint32_t ErrnoToWin32(int e) {
  switch (e) {
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case EACCES: case EPERM: case EISDIR: case ELOOP: return kErrAccessDenied;
    case EEXIST: return kErrFileExists;
    case ENOSPC: case EDQUOT: return kErrDiskFull;
    case EROFS: return kErrWriteProtect;
    case ENAMETOOLONG: return kErrFilenameTooLong;
    case EMFILE: case ENFILE: return kErrTooManyOpenFiles;
    case EFBIG: return kErrFileTooLarge;
    case EINVAL: return kErrInvalidParameter;
    default: return kErrGenFailure;
  }
}

// --- Options ----------------------------------------------------------------

struct Options {
  int port = -1;
  std::string folder;
  std::string bind = "127.0.0.1";
  bool askPartnership = false;
  bool refuse = false;
  std::vector<uint32_t> partners;
  std::vector<uint16_t> extraCodes;
  std::string notices;
  int idleTimeout = 3600;
  int handshakeTimeout = 10;
};

void Usage() {
  fprintf(stderr,
          "usage: hostservice --port PORT --folder DIR [--bind ADDR] [--ask-partnership]\n"
          "                   [--partner ID]... [--refuse] [--extra-code CODE]...\n"
          "                   [--notices FILE] [--idle-timeout SECONDS]\n"
          "                   [--handshake-timeout SECONDS]\n");
}

bool ParseNumber(const char* text, unsigned long max, unsigned long& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long v = strtoul(text, &end, 0);
  if (errno || *end || v > max || text[0] == '-') return false;
  out = v;
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long n = 0;
    if (a == "--ask-partnership") { o.askPartnership = true; continue; }
    if (a == "--refuse") { o.refuse = true; continue; }
    if (!value) { fprintf(stderr, "hostservice: %s needs a value\n", a.c_str()); return false; }
    ++i;
    if (a == "--port" && ParseNumber(value, 65535, n)) o.port = int(n);
    else if (a == "--folder") o.folder = value;
    else if (a == "--bind") o.bind = value;
    else if (a == "--notices") o.notices = value;
    else if (a == "--partner" && ParseNumber(value, 0xFFFFFFFFul, n)) { o.partners.push_back(uint32_t(n)); o.askPartnership = true; }
    else if (a == "--extra-code" && ParseNumber(value, 0xFFFF, n) && n >= 3) o.extraCodes.push_back(uint16_t(n));
    else if (a == "--idle-timeout" && ParseNumber(value, 86400, n) && n > 0) o.idleTimeout = int(n);
    else if (a == "--handshake-timeout" && ParseNumber(value, 3600, n) && n > 0) o.handshakeTimeout = int(n);
    else { fprintf(stderr, "hostservice: bad option %s %s\n", a.c_str(), value); return false; }
  }
  if (o.port < 0 || o.folder.empty()) return false;
  return true;
}

// --- Shared service state -------------------------------------------------

class Service {
 public:
  explicit Service(Options o) : opt(std::move(o)) {}
  ~Service() {
    if (rootFd >= 0) close(rootFd);
    if (noticeFile) fclose(noticeFile);
  }

  bool Start() {
    mkdir(opt.folder.c_str(), 0755);  // an existing folder is fine
    rootFd = open(opt.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) {
      fprintf(stderr, "hostservice: cannot open folder %s: %s\n", opt.folder.c_str(), strerror(errno));
      return false;
    }
    noticePath = opt.notices.empty() ? opt.folder + "/.notices.log" : opt.notices;
    noticeFile = fopen(noticePath.c_str(), "ae");
    if (!noticeFile) {
      fprintf(stderr, "hostservice: cannot open notices file %s: %s\n", noticePath.c_str(), strerror(errno));
      return false;
    }
    struct stat st{};
    if (fstat(fileno(noticeFile), &st) == 0) noticeId = {st.st_dev, st.st_ino};
    return true;
  }

  void Say(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    printf("%s\n", line.c_str());
    fflush(stdout);
  }

  void Notice(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    std::string stamped = Now() + " " + line;
    bool recorded = fprintf(noticeFile, "%s\n", stamped.c_str()) >= 0 && fflush(noticeFile) == 0;
    int error = errno;
    printf("%s\n", stamped.c_str());
    if (!recorded) {
      // The record of the device's operations is incomplete: say so where
      // the operator looks, and keep trying with the next notice.
      std::string text = "hostservice: notice not recorded in " + noticePath + ": " + strerror(error);
      printf("%s\n", text.c_str());
      fprintf(stderr, "%s\n", text.c_str());
      clearerr(noticeFile);
    }
    fflush(stdout);
  }

  // Share rule: a writer excludes everyone, readers exclude writers.
  bool Acquire(std::pair<dev_t, ino_t> id, bool write) {
    std::lock_guard<std::mutex> lock(mutex);
    auto& use = openFiles[id];
    if (use.writers > 0 || (write && use.readers > 0)) {
      if (use.writers == 0 && use.readers == 0) openFiles.erase(id);
      return false;
    }
    ++(write ? use.writers : use.readers);
    return true;
  }
  void Release(std::pair<dev_t, ino_t> id, bool write) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = openFiles.find(id);
    if (it == openFiles.end()) return;
    --(write ? it->second.writers : it->second.readers);
    if (it->second.writers == 0 && it->second.readers == 0) openFiles.erase(it);
  }

  // Makes the listener look at its sessions again (one settled or ended).
  void WakeListener() {
    char c = 1;
    // A full pipe already holds a wake-up; nothing is lost.
    ssize_t ignored = write(wakeFd, &c, 1);
    (void)ignored;
  }

  const Options opt;
  int rootFd = -1;
  int wakeFd = -1;  // write end of the listener's session pipe (non-blocking)
  std::pair<dev_t, ino_t> noticeId{};

 private:
  struct Use { int readers = 0, writers = 0; };
  std::mutex mutex;
  FILE* noticeFile = nullptr;
  std::string noticePath;
  std::map<std::pair<dev_t, ino_t>, Use> openFiles;
};

// --- One device connection -----------------------------------------------

class Session {
 public:
  // settled: set once the device has sent its first whole message; the
  // listener reads it to tell a served device from a silent connection.
  Session(Service& service, int fd, std::string peer, std::atomic<bool>& settled)
      : svc(service), sock(fd), who(std::move(peer)), settled(settled),
        handshakeDeadline(std::chrono::steady_clock::now() +
                          std::chrono::seconds(service.opt.handshakeTimeout)) {}
  ~Session() { CloseFile(); }

  void Run() {
    svc.Say(who + " connected");
    if (Handshake()) {
      while (Serve()) Settle();
    }
    if (file.fd >= 0) svc.Say(who + " left with " + file.name + " open: closed");
    CloseFile();
    svc.Say(who + " disconnected");
  }

 private:
  struct OpenFile {
    int fd = -1;
    std::string name;
    std::pair<dev_t, ino_t> id{};
    bool canRead = false, canWrite = false, written = false;
    uint32_t pendingError = 0;  // a failed write, told by the next reply
  };

  void Settle() {
    if (settled.exchange(true)) return;
    svc.WakeListener();
  }

  // Waits for bytes from the device, up to the idle time and, while it has
  // not sent a whole message yet, no later than the handshake deadline.
  // False when the time is up.
  bool WaitReadable() {
    const int64_t idleMs = int64_t(svc.opt.idleTimeout) * 1000;
    for (;;) {
      int64_t waitMs = idleMs;
      if (!settled) {
        int64_t leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             handshakeDeadline - std::chrono::steady_clock::now())
                             .count();
        if (leftMs <= 0) {
          svc.Say(who + " sent no message within " + std::to_string(svc.opt.handshakeTimeout) +
                  " s of connecting: dropped");
          return false;
        }
        waitMs = std::min(waitMs, leftMs);
      }
      pollfd p{sock, POLLIN, 0};
      int ready = poll(&p, 1, int(waitMs));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return false;
      if (ready == 0 && waitMs == idleMs) {
        svc.Say(who + " silent for " + std::to_string(svc.opt.idleTimeout) + " s: let go");
        return false;
      }
    }
  }

  // Socket I/O: some bytes, or 0 or less on close, error or time-out.
  ssize_t RecvSome(void* buf, size_t n) {
    for (;;) {
      if (!WaitReadable()) return -1;
      ssize_t got = recv(sock, buf, n, MSG_DONTWAIT);
      if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      return got;
    }
  }
  bool RecvAll(void* buf, size_t n) {
    auto* p = static_cast<uint8_t*>(buf);
    while (n > 0) {
      ssize_t got = RecvSome(p, n);
      if (got <= 0) return false;
      p += got;
      n -= size_t(got);
    }
    return true;
  }
  bool SendAll(const void* buf, size_t n) {
    auto* p = static_cast<const uint8_t*>(buf);
    while (n > 0) {
      ssize_t sent = send(sock, p, n, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return false;
      p += sent;
      n -= size_t(sent);
    }
    return true;
  }
  // Header and payload go out in one send: a separate small payload would
  // wait for the device's delayed acknowledgement of the header.
  bool SendMessage(uint16_t kind, uint16_t code, const std::vector<uint8_t>& payload = {}) {
    std::vector<uint8_t> m(kHeaderSize + payload.size());
    Put16(m.data(), kind);
    Put16(m.data() + 2, code);
    Put32(m.data() + 4, uint32_t(payload.size()));
    std::copy(payload.begin(), payload.end(), m.begin() + kHeaderSize);
    return SendAll(m.data(), m.size());
  }
  bool RecvHeader(uint16_t& kind, uint16_t& code, uint32_t& length) {
    uint8_t h[kHeaderSize];
    if (!RecvAll(h, sizeof h)) return false;
    kind = uint16_t(h[0] | h[1] << 8);
    code = uint16_t(h[2] | h[3] << 8);
    length = Get32(h + 4);
    return true;
  }
  bool Drain(uint64_t n) {
    uint8_t buf[4096];
    while (n > 0) {
      size_t piece = size_t(std::min<uint64_t>(n, sizeof buf));
      if (!RecvAll(buf, piece)) return false;
      n -= piece;
    }
    return true;
  }
  bool ErrorReply(uint32_t error) {
    std::vector<uint8_t> p;
    Append32(p, error);
    return SendMessage(kErrorReply, kRemoteFile, p);
  }
  bool Reply(const std::vector<uint8_t>& payload = {}) { return SendMessage(kReply, kRemoteFile, payload); }
  bool ReplyValue(uint32_t v) {
    std::vector<uint8_t> p;
    Append32(p, v);
    return Reply(p);
  }

  // The decision after connect: extra codes, the partnership exchange, then
  // accept or refuse. False ends the session.
  bool Handshake() {
    for (uint16_t code : svc.opt.extraCodes)
      if (!SendMessage(kRequest, code)) return false;
    bool partnerOk = true;
    if (svc.opt.askPartnership) {
      if (!SendMessage(kRequest, kPartnership)) return false;
      std::vector<uint32_t> ids;
      if (!ReceivePartnership(ids)) {
        svc.Say(who + " sent no valid partnership reply");
        return false;
      }
      Settle();
      std::string text;
      for (uint32_t id : ids) text += (text.empty() ? "" : ",") + std::to_string(id);
      svc.Say(who + " partnership ids [" + text + "]");
      if (!svc.opt.partners.empty())
        partnerOk = std::any_of(ids.begin(), ids.end(), [&](uint32_t id) {
          return std::find(svc.opt.partners.begin(), svc.opt.partners.end(), id) != svc.opt.partners.end();
        });
    }
    if (svc.opt.refuse || !partnerOk) {
      SendMessage(kRequest, kShutdown);
      svc.Say(who + (partnerOk ? " refused" : " refused: not a partner"));
      return false;
    }
    if (!SendMessage(kRequest, kAccepted)) return false;
    svc.Say(who + " accepted");
    return true;
  }

  bool ReceivePartnership(std::vector<uint32_t>& ids) {
    uint16_t kind, code;
    uint32_t length;
    if (!RecvHeader(kind, code, length)) return false;
    if (kind != kReply || code != kPartnership || length < 4 || length % 4 != 0 ||
        length > 4 * (kMaxPartnerIds + 1))
      return false;
    std::vector<uint8_t> p(length);
    if (!RecvAll(p.data(), p.size())) return false;
    uint32_t count = Get32(p.data());
    if (uint64_t(count + 1ull) * 4 != length) return false;
    for (uint32_t i = 0; i < count; ++i) ids.push_back(Get32(p.data() + 4 + 4 * i));
    return true;
  }

  // One message from the device; false ends the session.
  bool Serve() {
    uint16_t kind, code;
    uint32_t length;
    if (!RecvHeader(kind, code, length)) return false;
    if (kind == kRequest && code == kRemoteFile) {
      uint8_t head[8];
      if (length < sizeof head) return Drain(length) && ErrorReply(kErrInvalidParameter);
      if (!RecvAll(head, sizeof head)) return false;
      if (Get32(head) == kWrite) return StoreWrite(Get32(head + 4), length - 8);
      return ServeFileRequest(head, length);
    }
    if (length > kMaxRequest) {
      svc.Say(who + " announced " + std::to_string(length) + " bytes for code " + std::to_string(code) +
              ": dropped");
      return false;
    }
    std::vector<uint8_t> p(length);
    if (length && !RecvAll(p.data(), length)) return false;
    if (kind != kRequest) {
      svc.Say(who + " sent an unexpected message kind " + std::to_string(kind) + " code " + std::to_string(code));
      return true;
    }
    switch (code) {
      case kShutdown:
        SendMessage(kReply, kShutdown);
        return false;
      case kOperationStart:
      case kOperationComplete:
      case kOperationFailed:
        RecordNotice(code, p);
        return true;
      default:
        svc.Say(who + " sent an unknown request code " + std::to_string(code));
        return true;
    }
  }

  void RecordNotice(uint16_t code, const std::vector<uint8_t>& p) {
    const char* name = code == kOperationStart      ? "CM_OPERATIONSTART"
                       : code == kOperationComplete ? "CM_OPERATIONCOMPLETE"
                                                    : "CM_OPERATIONFAILED";
    size_t need = code == kOperationFailed ? 16 : 8;
    if (p.size() < need) {
      svc.Notice(std::string(name) + " malformed (" + std::to_string(p.size()) + " bytes)");
      return;
    }
    std::string line = std::string(name) + " operation=" + std::to_string(Get32(p.data())) +
                       " device=" + std::to_string(Get32(p.data() + 4));
    if (code == kOperationFailed) {
      uint32_t textBytes = Get32(p.data() + 12);
      size_t avail = p.size() - 16;
      std::string text = Utf16ToUtf8(p.data() + 16, std::min<size_t>(textBytes, avail) / 2);
      line += " error=" + std::to_string(Get32(p.data() + 8)) + " text=\"" + OneLine(text) + "\"";
      if (textBytes > avail) line += " (text cut: " + std::to_string(textBytes) + " bytes announced)";
    }
    svc.Notice(line);
  }

  // A remote-file request other than Write. `head` holds the command and the
  // data length; the rest of the payload (length - 8 bytes) is read here.
  bool ServeFileRequest(const uint8_t* head, uint32_t length) {
    uint32_t command = Get32(head);
    if (length > kMaxRequest) {
      svc.Say(who + " announced " + std::to_string(length) + " bytes for command " + std::to_string(command) +
              ": dropped");
      return false;
    }
    std::vector<uint8_t> body(length - 8);
    if (!body.empty() && !RecvAll(body.data(), body.size())) return false;
    const uint8_t* data = body.data();
    size_t size = body.size();
    if (Get32(head + 4) != size) return ErrorReply(kErrInvalidParameter);
    switch (command) {
      case kOpen: return Open(data, size);
      case kClose: return Close();
      case kRead: return size == 4 ? Read(Get32(data)) : ErrorReply(kErrInvalidParameter);
      case kSeek: return size == 8 ? Seek(Get32(data), Get32(data + 4)) : ErrorReply(kErrInvalidParameter);
      case kGetPosition:
      case kGetSize: return GetValue(command == kGetSize);
      case kGetDirectory: return ListFolder();
      default: return ErrorReply(kErrInvalidFunction);
    }
  }

  // A reply-bearing command on the open file first reports a failed write.
  bool TakePendingError(uint32_t& error) {
    error = file.pendingError;
    file.pendingError = 0;
    return error != 0;
  }

  void CloseFile() {
    if (file.fd < 0) {
      file = OpenFile{};
      return;
    }
    close(file.fd);
    svc.Release(file.id, file.canWrite);
    file = OpenFile{};
  }

  // Open data: name UTF-16+NUL, u32 message bytes, message, u32 access,
  // u32 disposition, u32 flags.
  bool Open(const uint8_t* d, size_t size) {
    size_t units = 0;
    while (2 * units + 1 < size && (d[2 * units] | d[2 * units + 1]) != 0) ++units;
    size_t pos = 2 * units + 2;
    if (pos + 4 > size) return ErrorReply(kErrInvalidParameter);
    std::string name = Utf16ToUtf8(d, units);
    uint32_t messageBytes = Get32(d + pos);
    pos += 4;
    if (messageBytes > size - pos || size - pos - messageBytes != 12) return ErrorReply(kErrInvalidParameter);
    std::string message = OneLine(Utf16ToUtf8(d + pos, messageBytes / 2));
    pos += messageBytes;
    uint32_t access = Get32(d + pos), disposition = Get32(d + pos + 4);

    if (file.pendingError)
      svc.Say(who + " a write to " + file.name + " failed with error " + std::to_string(file.pendingError));
    CloseFile();
    svc.Say(who + " open [" + OneLine(name) + "] access 0x" + Hex(access) + " disposition " +
            std::to_string(disposition) + (message.empty() ? "" : " message [" + message + "]"));
    if (name == kListingName) return Reply();  // a listing needs no file

    auto stored = StoredName(name);
    uint32_t error = stored ? OpenStored(*stored, access, disposition) : kErrInvalidName;
    if (!error && *stored != name)
      svc.Say(who + " keeps [" + OneLine(name) + "] as [" + OneLine(*stored) + "]");
    if (error) {
      svc.Say(who + " open [" + OneLine(name) + "] failed with error " + std::to_string(error));
      return ErrorReply(error);
    }
    return Reply();
  }

  static std::string Hex(uint32_t v) {
    char buf[16];
    snprintf(buf, sizeof buf, "%08X", v);
    return buf;
  }

  // The name under which the device's file is kept in the folder: the last
  // component of the name as the device sends it ("\temp\Backup.pbf" ->
  // "Backup.pbf", either separator). Nullopt for an empty name, a "." or
  // ".." anywhere, and a file name that is hidden (a leading dot), ends in
  // a blank or dot or holds a control or reserved character.
  static std::optional<std::string> StoredName(const std::string& name) {
    if (name.empty() || name.size() >= kMaxPathChars * 3) return std::nullopt;
    std::string leaf;
    for (size_t start = 0, i = 0; i <= name.size(); ++i) {
      if (i < name.size() && name[i] != '\\' && name[i] != '/') continue;
      leaf = name.substr(start, i - start);
      if (leaf == "." || leaf == "..") return std::nullopt;
      start = i + 1;
    }
    if (leaf.empty() || leaf[0] == '.' || leaf.back() == ' ' || leaf.back() == '.') return std::nullopt;
    for (char c : leaf)
      if (uint8_t(c) < 0x20 || std::strchr(":*?\"<>|", c)) return std::nullopt;
    return leaf;
  }

  // The entry of `dir` named `name`, exact or else differing in letter case
  // only (the desktop's names ignore case).
  static std::string FindEntry(int dir, const std::string& name) {
    struct stat st{};
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
    int copy = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) return name;
    DIR* d = fdopendir(copy);
    if (!d) {
      close(copy);
      return name;
    }
    std::string found = name;
    while (dirent* e = readdir(d)) {
      if (EqualNoCaseAscii(e->d_name, name)) {
        found = e->d_name;
        break;
      }
    }
    closedir(d);
    return found;
  }

  // Opens the folder's file `stored` (a StoredName): 0, or the error code.
  uint32_t OpenStored(const std::string& stored, uint32_t access, uint32_t disposition) {
    if (std::u16string u = Utf8ToUtf16(stored).value_or(u""); u.size() >= kMaxPathChars)
      return kErrFilenameTooLong;
    bool wantRead = (access & (kGenericRead | kGenericAll)) || !(access & kGenericWrite);
    bool wantWrite = (access & (kGenericWrite | kGenericAll)) != 0;
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    bool truncate = false;
    switch (disposition) {
      case kCreateNew: flags |= O_CREAT | O_EXCL; break;
      case kCreateAlways: flags |= O_CREAT; truncate = true; break;
      case kOpenExisting: break;
      case kOpenAlways: flags |= O_CREAT; break;
      case kTruncateExisting:
        if (!wantWrite) return kErrInvalidParameter;
        truncate = true;
        break;
      default: return kErrInvalidParameter;
    }
    flags |= (wantWrite || truncate) ? O_RDWR : O_RDONLY;

    int fd = openat(svc.rootFd, FindEntry(svc.rootFd, stored).c_str(), flags, 0644);
    int e = errno;
    if (fd < 0) return ErrnoToWin32(e);
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return kErrAccessDenied;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    if (id == svc.noticeId) {
      close(fd);
      return kErrAccessDenied;
    }
    bool writer = wantWrite || truncate;
    if (!svc.Acquire(id, writer)) {
      close(fd);
      return kErrSharingViolation;
    }
    if (truncate && ftruncate(fd, 0) != 0) {
      e = errno;
      svc.Release(id, writer);
      close(fd);
      return ErrnoToWin32(e);
    }
    file.fd = fd;
    file.name = stored;
    file.id = id;
    file.canRead = wantRead;
    file.canWrite = writer;
    return 0;
  }

  bool Close() {
    uint32_t error = 0;
    TakePendingError(error);
    if (file.fd >= 0 && file.written && fdatasync(file.fd) != 0 && !error) error = ErrnoToWin32(errno);
    if (file.fd >= 0) svc.Say(who + " close [" + file.name + "]" + (error ? " error " + std::to_string(error) : ""));
    CloseFile();
    return error ? ErrorReply(error) : Reply();
  }

  // Write payload after command and data length: u32 count, count bytes.
  // The data is stored piece by piece; no reply is sent.
  bool StoreWrite(uint32_t dataLength, uint32_t rest) {
    uint8_t countBytes[4] = {};
    uint32_t countSize = std::min<uint32_t>(rest, 4);
    if (!RecvAll(countBytes, countSize)) return false;
    uint32_t count = Get32(countBytes);
    uint64_t bytes = rest - countSize;
    uint32_t error = 0;
    if (dataLength != rest || countSize != 4 || count != bytes) error = kErrInvalidParameter;
    else if (file.fd < 0) error = kErrInvalidHandle;
    else if (!file.canWrite) error = kErrAccessDenied;
    else if (uint64_t(lseek(file.fd, 0, SEEK_CUR)) + bytes > 0xFFFFFFFFull) error = kErrFileTooLarge;
    // What arrives is stored at once, so a device that breaks off leaves
    // the bytes it did send.
    std::vector<uint8_t> buf(size_t(std::min<uint64_t>(bytes, kIoChunk)));
    while (bytes > 0) {
      ssize_t got = RecvSome(buf.data(), size_t(std::min<uint64_t>(bytes, buf.size())));
      if (got <= 0) return false;
      size_t piece = size_t(got);
      bytes -= piece;
      for (size_t done = 0; !error && done < piece;) {
        ssize_t w = write(file.fd, buf.data() + done, piece - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) error = w < 0 ? ErrnoToWin32(errno) : kErrDiskFull;
        else done += size_t(w);
      }
    }
    if (file.fd >= 0) {
      file.written = true;
      if (error && !file.pendingError) {
        file.pendingError = error;
        svc.Say(who + " write to [" + file.name + "] failed with error " + std::to_string(error));
      }
    } else if (error) {
      svc.Say(who + " write without an open file");
    }
    return true;
  }

  bool Read(uint32_t wanted) {
    uint32_t error = 0;
    if (TakePendingError(error)) return ErrorReply(error);
    if (file.fd < 0) return ErrorReply(kErrInvalidHandle);
    if (!file.canRead) return ErrorReply(kErrAccessDenied);
    std::vector<uint8_t> p(4 + std::min<size_t>(wanted, kMaxReadReply));
    size_t got = 0;
    while (got < p.size() - 4) {
      ssize_t r = read(file.fd, p.data() + 4 + got, p.size() - 4 - got);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return ErrorReply(ErrnoToWin32(errno));
      if (r == 0) break;
      got += size_t(r);
    }
    p.resize(4 + got);
    Put32(p.data(), uint32_t(got));
    return Reply(p);
  }

  // distance: unsigned from the start, signed from the current position or end.
  bool Seek(uint32_t distance, uint32_t method) {
    uint32_t error = 0;
    if (TakePendingError(error)) return ErrorReply(error);
    if (file.fd < 0) return ErrorReply(kErrInvalidHandle);
    int64_t base = 0;
    if (method == kFileCurrent) {
      base = lseek(file.fd, 0, SEEK_CUR);
    } else if (method == kFileEnd) {
      struct stat st{};
      if (fstat(file.fd, &st) != 0) return ErrorReply(ErrnoToWin32(errno));
      base = st.st_size;
    } else if (method != kFileBegin) {
      return ErrorReply(kErrInvalidParameter);
    }
    int64_t target = method == kFileBegin ? int64_t(distance) : base + int32_t(distance);
    if (target < 0) return ErrorReply(kErrNegativeSeek);
    if (target > int64_t(0xFFFFFFFFll)) return ErrorReply(kErrInvalidParameter);
    if (lseek(file.fd, target, SEEK_SET) < 0) return ErrorReply(ErrnoToWin32(errno));
    return ReplyValue(uint32_t(target));
  }

  bool GetValue(bool size) {
    uint32_t error = 0;
    if (TakePendingError(error)) return ErrorReply(error);
    if (file.fd < 0) return ErrorReply(kErrInvalidHandle);
    int64_t v;
    if (size) {
      struct stat st{};
      if (fstat(file.fd, &st) != 0) return ErrorReply(ErrnoToWin32(errno));
      v = st.st_size;
    } else {
      v = lseek(file.fd, 0, SEEK_CUR);
    }
    if (v < 0) return ErrorReply(ErrnoToWin32(errno));
    if (v > int64_t(0xFFFFFFFFll)) return ErrorReply(kErrFileTooLarge);
    return ReplyValue(uint32_t(v));
  }

  // The folder's plain files (no hidden or linked entries), sorted by name.
  bool ListFolder() {
    int copy = openat(svc.rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = copy >= 0 ? fdopendir(copy) : nullptr;
    if (!d) {
      if (copy >= 0) close(copy);
      return ErrorReply(kErrGenFailure);
    }
    struct Entry { std::string name; std::u16string wide; struct stat st; bool readOnly; };
    std::vector<Entry> entries;
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      Entry entry{e->d_name, {}, {}, false};
      if (fstatat(svc.rootFd, e->d_name, &entry.st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(entry.st.st_mode))
        continue;
      if (std::make_pair(entry.st.st_dev, entry.st.st_ino) == svc.noticeId) continue;
      auto wide = Utf8ToUtf16(entry.name);
      if (!wide || wide->size() >= kMaxPathChars) continue;
      entry.wide = *wide;
      entry.readOnly = faccessat(svc.rootFd, e->d_name, W_OK, AT_EACCESS) != 0;
      entries.push_back(std::move(entry));
    }
    closedir(d);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      std::string x = a.name, y = b.name;
      for (auto* s : {&x, &y})
        for (char& c : *s)
          if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
      return x != y ? x < y : a.name < b.name;
    });
    if (entries.size() > kMaxListing) entries.resize(kMaxListing);

    std::vector<uint8_t> p(4 + entries.size() * kFindDataSize, 0);
    Put32(p.data(), uint32_t(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      uint8_t* r = p.data() + 4 + i * kFindDataSize;
      Put32(r, kAttrArchive | (e.readOnly ? kAttrReadOnly : 0));
      Put64(r + 4, ToFileTime(e.st.st_mtim));  // no creation time here: the write time
      Put64(r + 12, ToFileTime(e.st.st_atim));
      Put64(r + 20, ToFileTime(e.st.st_mtim));
      Put32(r + 28, uint32_t(uint64_t(e.st.st_size) >> 32));
      Put32(r + 32, uint32_t(uint64_t(e.st.st_size)));
      for (size_t k = 0; k < e.wide.size(); ++k) Put16(r + 44 + 2 * k, e.wide[k]);
    }
    svc.Say(who + " listed " + std::to_string(entries.size()) + " files");
    return Reply(p);
  }

  Service& svc;
  int sock;
  std::string who;
  std::atomic<bool>& settled;
  const std::chrono::steady_clock::time_point handshakeDeadline;
  OpenFile file;
};

// --- Listener and process control ----------------------------------------

int g_wakePipe[2] = {-1, -1};

void OnSignal(int) {
  char c = 1;
  ssize_t ignored = write(g_wakePipe[1], &c, 1);
  (void)ignored;
}

struct Worker {
  std::thread thread;
  std::atomic<bool> done{false};
  std::atomic<bool> settled{false};  // the device has sent its first message
  int fd = -1;
};

// Receives wait in the session (handshake and idle time); sends and a
// vanished peer are bounded here. Best effort: without these options a
// stuck send or a vanished device only holds its place longer.
void SetTimeouts(int fd) {
  timeval send{60, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send);
  // A device that vanished without a word is found within about two minutes.
  int on = 1, idle = 60, interval = 10, count = 6;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

int RunService(const Options& opt) {
  Service svc(opt);
  if (!svc.Start()) return 1;

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(opt.port));
  if (inet_pton(AF_INET, opt.bind.c_str(), &addr.sin_addr) != 1) {
    fprintf(stderr, "hostservice: bad address %s\n", opt.bind.c_str());
    return 2;
  }
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  if (listener < 0 || setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 8) != 0) {
    fprintf(stderr, "hostservice: cannot listen on %s:%d: %s\n", opt.bind.c_str(), opt.port, strerror(errno));
    if (listener >= 0) close(listener);
    return 1;
  }
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  svc.Say("hostservice listening on " + opt.bind + ":" + std::to_string(ntohs(addr.sin_port)) + " folder " +
          opt.folder);

  // Sessions write to this pipe when they settle or end.
  int sessionPipe[2];
  if (pipe2(sessionPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    fprintf(stderr, "hostservice: cannot make a pipe: %s\n", strerror(errno));
    close(listener);
    return 1;
  }
  svc.wakeFd = sessionPipe[1];

  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  std::vector<std::unique_ptr<Worker>> workers;
  auto reap = [&](bool all) {
    for (auto it = workers.begin(); it != workers.end();) {
      if (all || (*it)->done) {
        (*it)->thread.join();
        close((*it)->fd);
        it = workers.erase(it);
      } else {
        ++it;
      }
    }
  };
  // Every place taken, but one of them by a connection that has yet to
  // speak: it ends within the handshake time, so the next device waits in
  // the listen queue rather than being refused.
  auto placeComesFree = [&] {
    return workers.size() >= size_t(kMaxSessions) &&
           std::any_of(workers.begin(), workers.end(), [](const auto& w) { return !w->settled; });
  };

  bool acceptStalled = false;
  for (;;) {
    reap(false);
    const bool holdBack = placeComesFree();
    pollfd fds[3] = {
        {g_wakePipe[0], POLLIN, 0}, {sessionPipe[0], POLLIN, 0}, {holdBack ? -1 : listener, POLLIN, 0}};
    int n = poll(fds, 3, 1000);
    if (n < 0 && errno != EINTR) break;
    if (fds[0].revents) break;
    if (fds[1].revents) {
      char drain[64];
      while (read(sessionPipe[0], drain, sizeof drain) > 0) {
      }
    }
    if (n <= 0 || !(fds[2].revents & POLLIN)) continue;
    sockaddr_in peer{};
    socklen_t plen = sizeof peer;
    int fd = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &plen, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors or memory: the connection stays queued and the
        // listener stays readable, so pause rather than spin until a
        // session ends.
        if (!acceptStalled) svc.Say(std::string("hostservice cannot accept: ") + strerror(errno));
        acceptStalled = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
      continue;
    }
    acceptStalled = false;
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    std::string who = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
    SetTimeouts(fd);
    reap(false);
    if (workers.size() >= size_t(kMaxSessions)) {
      uint8_t refuse[kHeaderSize] = {0, 0, kShutdown, 0, 0, 0, 0, 0};
      // The device is turned away either way; a failed send only loses the reason.
      ssize_t ignored = send(fd, refuse, sizeof refuse, MSG_NOSIGNAL);
      (void)ignored;
      close(fd);
      svc.Say(who + " refused: too many connections");
      continue;
    }
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    w->fd = fd;
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &stop, &old);  // signals go to this thread only
    w->thread = std::thread([&svc, w, who] {
      Session(svc, w->fd, who, w->settled).Run();
      shutdown(w->fd, SHUT_RDWR);
      w->done = true;
      svc.WakeListener();
    });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    workers.push_back(std::move(worker));
  }

  close(listener);
  for (auto& w : workers) shutdown(w->fd, SHUT_RDWR);  // wakes blocked receives
  reap(true);
  svc.wakeFd = -1;
  close(sessionPipe[0]);
  close(sessionPipe[1]);
  svc.Say("hostservice stopped");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!ParseOptions(argc, argv, opt)) {
    Usage();
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  if (pipe2(g_wakePipe, O_CLOEXEC) != 0) return 1;
  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  return RunService(opt);
}
