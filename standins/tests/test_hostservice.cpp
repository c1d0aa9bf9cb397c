// The desktop host service driven through its socket by a small client that
// speaks the host-link framing itself.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kRead = 0x80000000u, kWrite = 0x40000000u;
constexpr uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3;

void Add32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
void AddText(Bytes& b, const std::string& ascii) {
  for (char c : ascii) b.push_back(uint8_t(c)), b.push_back(0);
  b.push_back(0), b.push_back(0);
}
std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// One running host service in a scratch folder.
class Host {
 public:
  explicit Host(std::vector<std::string> extra = {}) {
    char tmpl[] = "/tmp/hostsvc-test-XXXXXX";
    root_ = mkdtemp(tmpl);
    folder = root_ / "images";
    fs::create_directories(folder);
    out_ = root_ / "host.out";
    std::vector<std::string> args = {QUILMO_BIN_DIR "/hostservice", "--port", "0", "--folder", folder.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    for (int i = 0; i < 500 && port == 0; ++i) {
      std::string text = Slurp(out_);
      auto at = text.find("listening on 127.0.0.1:");
      if (at != std::string::npos && text.find('\n', at) != std::string::npos)
        port = std::atoi(text.c_str() + at + 23);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~Host() {
    Stop();
    fs::remove_all(root_);
  }
  // SIGTERM; the exit status, or -1 when the service did not end within 5 s.
  int Stop() {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 250; ++i) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = 0;
        return status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
    return status_ = -1;
  }
  std::string Output() const { return Slurp(out_); }
  // Lowers the service's descriptor limit so that `more` descriptors are
  // left beside those it holds now.
  bool LeaveDescriptors(int more) {
    std::set<int> used;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/fd"))
      used.insert(std::stoi(e.path().filename().string()));
    int n = 0;
    for (int left = more; left > 0; ++n)
      if (!used.count(n)) --left;
    rlimit limit{};
    if (prlimit(pid_, RLIMIT_NOFILE, nullptr, &limit) != 0) return false;
    limit.rlim_cur = rlim_t(n);  // the soft limit: it may be raised again
    return prlimit(pid_, RLIMIT_NOFILE, &limit, nullptr) == 0;
  }
  // Processor time the service has used so far.
  double CpuSeconds() const {
    std::string stat = Slurp("/proc/" + std::to_string(pid_) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
      if (i >= 14) ticks += std::stoull(field);  // utime, stime
    return double(ticks) / double(sysconf(_SC_CLK_TCK));
  }
  fs::path Root() const { return root_; }

  int port = 0;
  fs::path folder;

 private:
  fs::path root_, out_;
  pid_t pid_ = -1;
  int status_ = -1;
};

struct Message {
  uint16_t kind = 0xFFFF, code = 0xFFFF;
  Bytes payload;
};

// The device side of the framing, just enough to drive the host.
class Client {
 public:
  explicit Client(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() { Drop(); }
  void Drop() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  bool SendRaw(const Bytes& b) { return send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size()); }
  bool Send(uint16_t kind, uint16_t code, const Bytes& payload = {}, uint32_t announced = UINT32_MAX) {
    Bytes b = {uint8_t(kind), uint8_t(kind >> 8), uint8_t(code), uint8_t(code >> 8)};
    Add32(b, announced == UINT32_MAX ? uint32_t(payload.size()) : announced);
    b.insert(b.end(), payload.begin(), payload.end());
    return SendRaw(b);
  }
  bool RecvAll(uint8_t* p, size_t n) {
    while (n > 0) {
      ssize_t got = recv(fd_, p, n, 0);
      if (got <= 0) return false;
      p += got, n -= size_t(got);
    }
    return true;
  }
  // The next message; kind 0xFFFF when the host closed or stayed silent.
  Message Recv() {
    uint8_t h[8];
    Message m;
    if (!RecvAll(h, 8)) return m;
    Bytes payload(Get32(Bytes(h, h + 8), 4));
    if (!payload.empty() && !RecvAll(payload.data(), payload.size())) return m;
    m.kind = uint16_t(h[0] | h[1] << 8);
    m.code = uint16_t(h[2] | h[3] << 8);
    m.payload = std::move(payload);
    return m;
  }
  bool Closed() {
    uint8_t b;
    return recv(fd_, &b, 1, 0) == 0;
  }
  // Something to read (or a close) within ms.
  bool Ready(int ms) {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
  }
  // The host has closed or reset the connection (looked at without waiting).
  bool Gone() {
    uint8_t b;
    ssize_t n = recv(fd_, &b, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }

  // Remote-file requests (kind 0, code 3).
  bool Request(uint32_t command, const Bytes& data = {}) {
    Bytes p;
    Add32(p, command);
    Add32(p, uint32_t(data.size()));
    p.insert(p.end(), data.begin(), data.end());
    return Send(0, 3, p);
  }
  // 0 on success, else the host's error code (0xDEAD when no reply came).
  uint32_t Result(Message m) {
    if (m.kind == 1 && m.code == 3) return 0;
    if (m.kind == 2 && m.code == 3 && m.payload.size() == 4) return Get32(m.payload, 0);
    return 0xDEAD;
  }
  uint32_t Open(const std::string& name, uint32_t access, uint32_t disposition, const std::string& message = "") {
    Bytes d;
    AddText(d, name);
    if (message.empty()) {
      Add32(d, 0);
    } else {
      Add32(d, uint32_t(message.size() + 1) * 2);
      AddText(d, message);
    }
    Add32(d, access);
    Add32(d, disposition);
    Add32(d, 0x80);
    Request(0, d);
    return Result(Recv());
  }
  uint32_t Close() {
    Request(1);
    return Result(Recv());
  }
  void Write(const Bytes& bytes) {
    Bytes d;
    Add32(d, uint32_t(bytes.size()));
    d.insert(d.end(), bytes.begin(), bytes.end());
    Request(3, d);
  }
  uint32_t Read(uint32_t n, Bytes& out) {
    Bytes d;
    Add32(d, n);
    Request(2, d);
    Message m = Recv();
    uint32_t r = Result(m);
    if (r == 0) {
      out.assign(m.payload.begin() + 4, m.payload.end());
      EXPECT_EQ(Get32(m.payload, 0), out.size());
    }
    return r;
  }
  uint32_t Seek(int32_t distance, uint32_t method) {
    Bytes d;
    Add32(d, uint32_t(distance));
    Add32(d, method);
    Request(4, d);
    return Result(Recv());
  }
  // GetFilePointer (5) or GetFileSize (6): the value, or ~0 on an error reply.
  uint32_t Value(uint32_t command) {
    Request(command);
    Message m = Recv();
    return Result(m) == 0 && m.payload.size() == 4 ? Get32(m.payload, 0) : ~0u;
  }
  // GetDirectory: the names in reply order; sizes[i] the low size words.
  bool List(std::vector<std::string>& names, std::vector<uint32_t>& sizes) {
    Request(7);
    Message m = Recv();
    if (Result(m) != 0 || m.payload.size() < 4) return false;
    uint32_t count = Get32(m.payload, 0);
    if (m.payload.size() != 4 + size_t(count) * 592) return false;
    for (uint32_t i = 0; i < count; ++i) {
      size_t r = 4 + i * 592;
      std::string name;
      for (size_t k = r + 44; m.payload[k] || m.payload[k + 1]; k += 2) name += char(m.payload[k]);
      names.push_back(name);
      sizes.push_back(Get32(m.payload, r + 32));
    }
    return true;
  }

  bool connected = false;

 private:
  int fd_ = -1;
};

// A connected and accepted client.
#define ACCEPTED_CLIENT(name, host)          \
  Client name((host).port);                  \
  ASSERT_TRUE(name.connected);               \
  ASSERT_EQ(name.Recv().code, 0)

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + i / 251);
  return b;
}

TEST(HostService, HandshakeAcceptRefuseAndPartnership) {
  {
    Host host;
    ASSERT_NE(host.port, 0) << host.Output();
    Client c(host.port);
    Message m = c.Recv();
    EXPECT_EQ(m.kind, 0);
    EXPECT_EQ(m.code, 0);
    EXPECT_TRUE(m.payload.empty());
  }
  {
    Host host({"--refuse"});
    Client c(host.port);
    EXPECT_EQ(c.Recv().code, 1);
    EXPECT_TRUE(c.Closed());
  }
  {
    Host host({"--ask-partnership", "--extra-code", "7"});
    Client c(host.port);
    EXPECT_EQ(c.Recv().code, 7);  // skipped by the device
    Message ask = c.Recv();
    EXPECT_EQ(ask.kind, 0);
    EXPECT_EQ(ask.code, 2);
    Bytes ids;
    Add32(ids, 2), Add32(ids, 7), Add32(ids, 9);
    c.Send(1, 2, ids);
    EXPECT_EQ(c.Recv().code, 0);
    EXPECT_NE(host.Output().find("partnership ids [7,9]"), std::string::npos);
  }
  {
    Host host({"--partner", "5"});
    Client stranger(host.port);
    EXPECT_EQ(stranger.Recv().code, 2);
    Bytes ids;
    Add32(ids, 1), Add32(ids, 7);
    stranger.Send(1, 2, ids);
    EXPECT_EQ(stranger.Recv().code, 1);

    Client partner(host.port);
    EXPECT_EQ(partner.Recv().code, 2);
    Bytes bad;  // count disagrees with the length: the host drops the device
    Add32(bad, 3), Add32(bad, 5);
    partner.Send(1, 2, bad);
    EXPECT_TRUE(partner.Closed());

    Client good(host.port);
    EXPECT_EQ(good.Recv().code, 2);
    Bytes mine;
    Add32(mine, 2), Add32(mine, 4), Add32(mine, 5);
    good.Send(1, 2, mine);
    EXPECT_EQ(good.Recv().code, 0);
  }
}

TEST(HostService, WritesThenReadsAnImage) {
  Host host;
  ACCEPTED_CLIENT(c, host);
  Bytes image = Pattern(100000);
  ASSERT_EQ(c.Open("Backup.pbf", kWrite, kCreateAlways, "Backup of the device"), 0u);
  for (size_t at = 0; at < image.size(); at += 32768)
    c.Write(Bytes(image.begin() + at, image.begin() + std::min(image.size(), at + 32768)));
  EXPECT_EQ(c.Value(6), 100000u);
  EXPECT_EQ(c.Value(5), 100000u);
  EXPECT_EQ(c.Close(), 0u);
  std::string onDisk = Slurp(host.folder / "Backup.pbf");
  EXPECT_TRUE(onDisk == std::string(image.begin(), image.end()));
  EXPECT_NE(host.Output().find("message [Backup of the device]"), std::string::npos);

  // Desktop names ignore letter case.
  ASSERT_EQ(c.Open("BACKUP.PBF", kRead, kOpenExisting), 0u);
  Bytes got;
  EXPECT_EQ(c.Seek(-80, 2), 0u);
  EXPECT_EQ(c.Value(5), 99920u);
  ASSERT_EQ(c.Read(80, got), 0u);
  EXPECT_TRUE(got == Bytes(image.end() - 80, image.end()));
  EXPECT_EQ(c.Seek(0, 0), 0u);
  ASSERT_EQ(c.Read(65536, got), 0u);
  EXPECT_EQ(got.size(), 65536u);
  ASSERT_EQ(c.Read(65536, got), 0u);
  EXPECT_EQ(got.size(), 100000u - 65536u);  // a short count at the end
  ASSERT_EQ(c.Read(10, got), 0u);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(c.Seek(-1, 1), 0u);  // from the current position, signed
  EXPECT_EQ(c.Value(5), 99999u);
  EXPECT_EQ(c.Seek(-200000, 2), 131u);
  EXPECT_EQ(c.Seek(0, 9), 87u);
  EXPECT_EQ(c.Close(), 0u);
}

TEST(HostService, FileErrorsReachTheDevice) {
  Host host;
  ACCEPTED_CLIENT(c, host);
  Bytes got;
  EXPECT_EQ(c.Read(10, got), 6u);  // nothing open
  EXPECT_EQ(c.Open("missing.pbf", kRead, kOpenExisting), 2u);
  EXPECT_EQ(c.Open("a.pbf", kWrite, 9), 87u);
  ASSERT_EQ(c.Open("a.pbf", kWrite, kCreateNew), 0u);
  EXPECT_EQ(c.Close(), 0u);
  EXPECT_EQ(c.Open("a.pbf", kWrite, kCreateNew), 80u);

  // A write has no reply: its failure is told by the next reply of the file.
  ASSERT_EQ(c.Open("a.pbf", kRead, kOpenExisting), 0u);
  c.Write(Pattern(10));
  EXPECT_EQ(c.Close(), 5u);
  EXPECT_EQ(fs::file_size(host.folder / "a.pbf"), 0u);

  // A writer excludes every other open.
  ASSERT_EQ(c.Open("a.pbf", kWrite, kOpenExisting), 0u);
  ACCEPTED_CLIENT(other, host);
  EXPECT_EQ(other.Open("a.pbf", kRead, kOpenExisting), 32u);
  EXPECT_EQ(other.Open("a.pbf", kWrite, kCreateAlways), 32u);
  EXPECT_EQ(c.Close(), 0u);
  EXPECT_EQ(other.Open("a.pbf", kRead, kOpenExisting), 0u);
}

TEST(HostService, ListsItsFolder) {
  Host host;
  {
    ACCEPTED_CLIENT(c, host);
    ASSERT_EQ(c.Open("prompt_user", 0, kOpenExisting), 0u);
    std::vector<std::string> names;
    std::vector<uint32_t> sizes;
    ASSERT_TRUE(c.List(names, sizes));  // an empty folder: count 0
    EXPECT_TRUE(names.empty());
  }
  std::ofstream(host.folder / "b.pbf") << "12345";
  std::ofstream(host.folder / "A.pbf") << "123";
  std::ofstream(host.folder / ".hidden") << "x";
  std::ofstream(host.Root() / "outside.txt") << "secret";
  fs::create_directory(host.folder / "sub");
  fs::create_symlink(host.Root() / "outside.txt", host.folder / "link.pbf");
  ACCEPTED_CLIENT(c, host);
  ASSERT_EQ(c.Open("prompt_user", 0, kOpenExisting), 0u);
  std::vector<std::string> names;
  std::vector<uint32_t> sizes;
  ASSERT_TRUE(c.List(names, sizes));
  EXPECT_EQ(names, (std::vector<std::string>{"A.pbf", "b.pbf"}));
  EXPECT_EQ(sizes, (std::vector<uint32_t>{3, 5}));
}

TEST(HostService, KeepsDevicePathsByFileName) {
  Host host;
  ACCEPTED_CLIENT(c, host);
  // The device's own default path: its folder part is dropped.
  ASSERT_EQ(c.Open("\\temp\\Backup.pbf", kWrite, kCreateAlways), 0u);
  c.Write(Pattern(5000));
  EXPECT_EQ(c.Close(), 0u);
  EXPECT_EQ(fs::file_size(host.folder / "Backup.pbf"), 5000u);
  // Either separator; the same file under another folder part.
  ASSERT_EQ(c.Open("/Storage Card/Backup.pbf", kRead, kOpenExisting), 0u);
  EXPECT_EQ(c.Value(6), 5000u);
  EXPECT_EQ(c.Close(), 0u);
  ASSERT_EQ(c.Open("Backup.pbf", kRead, kOpenExisting), 0u);
  EXPECT_EQ(c.Close(), 0u);
  ASSERT_EQ(c.Open("\\My Documents/Sub\\Other.pbf", kWrite, kCreateNew), 0u);
  EXPECT_EQ(c.Close(), 0u);
  EXPECT_TRUE(fs::is_regular_file(host.folder / "Other.pbf"));

  // What was written is what the folder lists.
  ASSERT_EQ(c.Open("prompt_user", 0, kOpenExisting), 0u);
  std::vector<std::string> names;
  std::vector<uint32_t> sizes;
  ASSERT_TRUE(c.List(names, sizes));
  EXPECT_EQ(names, (std::vector<std::string>{"Backup.pbf", "Other.pbf"}));
  EXPECT_EQ(sizes, (std::vector<uint32_t>{5000, 0}));
}

TEST(HostService, NeverReachesOutsideItsFolder) {
  Host host;
  std::ofstream(host.Root() / "outside.txt") << "secret";
  fs::create_directory(host.Root() / "elsewhere");
  fs::create_symlink(host.Root() / "outside.txt", host.folder / "file-link");
  fs::create_directory_symlink(host.Root() / "elsewhere", host.folder / "dir-link");
  ACCEPTED_CLIENT(c, host);
  for (const char* name : {"..\\outside.txt", "../outside.txt", "sub\\..\\..\\outside.txt", "..", "\\..",
                           "a/../b.pbf", ".\\x.pbf", "\\temp\\", "\\temp/", ".notices.log",
                           "\\temp\\.notices.log", "file-link", "\\temp\\file-link", "dir-link", "", "bad:name",
                           "C:x.pbf", "trailing.", "trailing ", "tab\tname"}) {
    uint32_t r = c.Open(name, kWrite, kCreateAlways);
    EXPECT_NE(r, 0u) << name;
    EXPECT_NE(r, 0xDEADu) << name;
  }
  EXPECT_EQ(c.Open("..", kRead, kOpenExisting), 123u);
  EXPECT_EQ(c.Open("", kRead, kOpenExisting), 123u);
  // Absolute, drive, server and linked folder parts are dropped: the file
  // lands in the folder.
  for (const char* name : {"\\outside.txt", "/tmp/x", "C:\\outside.txt", "\\\\server\\share\\x",
                           "dir-link\\new.pbf", "dir-link/new.pbf", "a\\\\b"})
    EXPECT_EQ(c.Open(name, kWrite, kCreateAlways), 0u) << name;
  EXPECT_EQ(c.Close(), 0u);
  EXPECT_EQ(Slurp(host.Root() / "outside.txt"), "secret");
  EXPECT_TRUE(fs::is_empty(host.Root() / "elsewhere"));
  for (const char* kept : {"outside.txt", "x", "new.pbf", "b"})
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(host.folder / kept))) << kept;
  EXPECT_EQ(c.Open("fine.pbf", kWrite, kCreateAlways), 0u);  // the link still works
}

TEST(HostService, RecordsOperationNotices) {
  Host host;
  {
    ACCEPTED_CLIENT(c, host);
    Bytes start;
    Add32(start, 1), Add32(start, 0x1234);
    c.Send(0, 4, start);
    c.Send(0, 5, start);
    Bytes failed = start;
    Add32(failed, 5);
    std::string text = "Failed to connect\nto host";
    Add32(failed, uint32_t(text.size() + 1) * 2);
    AddText(failed, text);
    c.Send(0, 6, failed);
    Bytes lying = start;  // the text length runs past the payload
    Add32(lying, 2), Add32(lying, 4000);
    AddText(lying, "cut");
    c.Send(0, 6, lying);
    c.Send(0, 1);  // the closing message gets one reply
    Message bye = c.Recv();
    EXPECT_EQ(bye.kind, 1);
    EXPECT_TRUE(c.Closed());
  }
  std::string log = Slurp(host.folder / ".notices.log");
  EXPECT_NE(log.find("CM_OPERATIONSTART operation=1 device=4660\n"), std::string::npos) << log;
  EXPECT_NE(log.find("CM_OPERATIONCOMPLETE operation=1 device=4660\n"), std::string::npos);
  EXPECT_NE(log.find("CM_OPERATIONFAILED operation=1 device=4660 error=5 text=\"Failed to connect to host\"\n"),
            std::string::npos);
  EXPECT_NE(log.find("error=2 text=\"cut\" (text cut: 4000 bytes announced)"), std::string::npos);
  EXPECT_NE(host.Output().find("CM_OPERATIONSTART"), std::string::npos);
}

TEST(HostService, SurvivesDevicesThatBreakOff) {
  Host host({"--idle-timeout", "1"});
  {
    ACCEPTED_CLIENT(c, host);
    ASSERT_EQ(c.Open("big.pbf", kWrite, kCreateAlways), 0u);
    Bytes p;  // a Write announcing 1 MB, then the device is gone
    Add32(p, 3), Add32(p, (1 << 20) + 4), Add32(p, 1 << 20);
    Bytes part = Pattern(1000);
    p.insert(p.end(), part.begin(), part.end());
    c.Send(0, 3, p, 12 + (1 << 20));
  }
  {
    ACCEPTED_CLIENT(c, host);  // the next device can have the file at once
    for (int i = 0; i < 50 && c.Open("big.pbf", kWrite, kOpenExisting) == 32; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(c.Value(6), 1000u);
    EXPECT_EQ(c.Close(), 0u);
  }
  {
    ACCEPTED_CLIENT(c, host);  // a huge announced notice is not allocated
    c.Send(0, 6, {}, 0xFFFFFFF0u);
    EXPECT_TRUE(c.Closed());
  }
  {
    ACCEPTED_CLIENT(c, host);  // a huge Read is capped
    ASSERT_EQ(c.Open("big.pbf", kRead, kOpenExisting), 0u);
    Bytes got;
    EXPECT_EQ(c.Read(0xFFFFFFFFu, got), 0u);
    EXPECT_EQ(got.size(), 1000u);
  }
  {
    ACCEPTED_CLIENT(c, host);  // a silent device is let go after the idle time
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(c.Closed());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
  }
  ACCEPTED_CLIENT(c, host);
  ASSERT_EQ(c.Open("prompt_user", 0, kOpenExisting), 0u);
  std::vector<std::string> names;
  std::vector<uint32_t> sizes;
  ASSERT_TRUE(c.List(names, sizes));
  EXPECT_EQ(names, std::vector<std::string>{"big.pbf"});
}

TEST(HostService, RepliesDoNotWaitForDelayedAcknowledgements) {
  // A reply's header and payload leave together: sent apart, each payload
  // would wait for the device's delayed acknowledgement of the header (40 ms
  // or more), and 100 replies would take at least 4 s.
  Host host;
  ACCEPTED_CLIENT(c, host);
  ASSERT_EQ(c.Open("a.pbf", kWrite, kCreateAlways), 0u);
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(c.Value(6), 0u);        // reply with a value
    ASSERT_EQ(c.Seek(-1, 0x9), 87u);  // error reply
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

TEST(HostService, ReportsANoticeItCannotRecord) {
  Host host({"--notices", "/dev/full"});
  ASSERT_NE(host.port, 0) << host.Output();
  ACCEPTED_CLIENT(c, host);
  Bytes start;
  Add32(start, 1), Add32(start, 2);
  c.Send(0, 4, start);
  c.Send(0, 1);
  c.Recv();
  EXPECT_NE(host.Output().find("notice not recorded in /dev/full"), std::string::npos) << host.Output();
}

// Seconds until the host closes the client's connection (the client reads
// and drops whatever comes first); -1 when it stays open for `limit`.
double SecondsUntilClosed(Client& c, std::chrono::seconds limit) {
  auto t0 = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - t0 < limit) {
    if (c.Closed()) return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  return -1;
}

TEST(HostService, SilentConnectionsAreDroppedAfterTheHandshakeTime) {
  Host host({"--handshake-timeout", "1"});
  ASSERT_NE(host.port, 0) << host.Output();
  // Eight connections that never speak take every place.
  std::vector<std::unique_ptr<Client>> silent;
  for (int i = 0; i < 8; ++i) {
    silent.push_back(std::make_unique<Client>(host.port));
    ASSERT_EQ(silent.back()->Recv().code, 0);
  }
  // The next device waits for a place instead of being refused.
  auto t0 = std::chrono::steady_clock::now();
  ACCEPTED_CLIENT(device, host);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(device.Open("late.pbf", kWrite, kCreateAlways), 0u);
  EXPECT_EQ(device.Close(), 0u);
  for (auto& c : silent) EXPECT_TRUE(c->Closed());
  EXPECT_NE(host.Output().find("sent no message within 1 s of connecting: dropped"), std::string::npos);

  // A device that has spoken keeps its session past the handshake time.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(device.Open("late.pbf", kRead, kOpenExisting), 0u);
  EXPECT_EQ(device.Close(), 0u);
}

TEST(HostService, HandshakeTimeIsADeadlineNotAnIdleTime) {
  Host host({"--handshake-timeout", "1", "--ask-partnership"});
  {
    // Silent after the partnership request.
    Client c(host.port);
    ASSERT_EQ(c.Recv().code, 2);
    double closed = SecondsUntilClosed(c, std::chrono::seconds(20));
    EXPECT_GE(closed, 0.0);
    EXPECT_LT(closed, 10.0);
  }
  {
    // A partnership reply trickling in a byte at a time never completes.
    Client c(host.port);
    ASSERT_EQ(c.Recv().code, 2);
    Bytes reply = {1, 0, 2, 0, 8, 0, 0, 0, 1, 0, 0, 0, 7, 0, 0, 0};
    auto t0 = std::chrono::steady_clock::now();
    for (size_t i = 0; i + 1 < reply.size() && !c.Gone(); ++i) {
      c.SendRaw(Bytes{reply[i]});
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    EXPECT_TRUE(c.Gone());  // dropped before the last byte but one (4.5 s)
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
  }
}

TEST(HostService, ServedDevicesStillTurnAwayTheNinth) {
  Host host;
  std::vector<std::unique_ptr<Client>> served;
  for (int i = 0; i < 8; ++i) {
    served.push_back(std::make_unique<Client>(host.port));
    ASSERT_EQ(served.back()->Recv().code, 0);
    ASSERT_EQ(served.back()->Close(), 0u);  // has spoken
  }
  Client ninth(host.port);
  EXPECT_EQ(ninth.Recv().code, 1);
  EXPECT_TRUE(ninth.Closed());
  served.pop_back();  // a place comes free
  for (int i = 0; i < 50; ++i) {
    Client next(host.port);
    Message m = next.Recv();
    if (m.code == 0) break;
    EXPECT_EQ(m.code, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_LT(i, 49) << "no place came free";
  }
}

TEST(HostService, OutOfDescriptorsPausesUntilItCanAccept) {
  Host host;
  ASSERT_NE(host.port, 0) << host.Output();
  ASSERT_TRUE(host.LeaveDescriptors(3));  // a few sessions, then no more
  std::vector<std::unique_ptr<Client>> served;
  std::unique_ptr<Client> queued;
  for (int i = 0; i < 10 && !queued; ++i) {
    auto c = std::make_unique<Client>(host.port);
    if (c->Ready(2000)) {
      ASSERT_EQ(c->Recv().code, 0);
      served.push_back(std::move(c));
    } else {
      queued = std::move(c);  // the service cannot take it yet
    }
  }
  ASSERT_TRUE(queued) << host.Output();
  ASSERT_FALSE(served.empty());
  double before = host.CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(host.CpuSeconds() - before, 0.3);  // no spinning on the queued device
  EXPECT_NE(host.Output().find("cannot accept"), std::string::npos);
  // Descriptors to spare again (the sanitizers' runtime needs some for a
  // new session's thread): the queued device is served.
  ASSERT_TRUE(host.LeaveDescriptors(4));
  EXPECT_EQ(queued->Recv().code, 0) << host.Output();
}

TEST(HostService, EndsCleanlyOnSigtermWithDevicesConnected) {
  Host host;
  ACCEPTED_CLIENT(c, host);
  ASSERT_EQ(c.Open("x.pbf", kWrite, kCreateAlways), 0u);
  EXPECT_EQ(host.Stop(), 0);
  EXPECT_TRUE(c.Closed());
  EXPECT_NE(host.Output().find("hostservice stopped"), std::string::npos);
}

}  // namespace
