#include "host_service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace hosttest {

std::string HostServiceProcess::ProgramPath() { return std::string(QUILMO_BIN_DIR) + "/hostservice"; }

HostServiceProcess::HostServiceProcess(const std::vector<std::string>& extraArgs) {
  std::random_device rd;
  folder_ = std::filesystem::temp_directory_path() /
            ("quilmo-hostsvc-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
  std::filesystem::create_directories(folder_);
  const std::string program = ProgramPath();
  if (access(program.c_str(), X_OK) != 0) return;

  std::vector<std::string> args = {program, "--port", "0", "--folder", folder_.string()};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  out_ = pipeFds[0];
  if (pid_ < 0) return;

  // "hostservice listening on ADDR:PORT folder DIR"
  std::string line;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char c;
    if (read(out_, &c, 1) != 1) break;
    line += c;
  }
  size_t at = line.find("listening on ");
  size_t colon = at == std::string::npos ? at : line.find(':', at);
  if (colon != std::string::npos) port_ = static_cast<uint16_t>(std::stoi(line.substr(colon + 1)));
  // Later output is small: the pipe buffer holds it.
}

HostServiceProcess::~HostServiceProcess() {
  Stop(SIGTERM);
  if (out_ >= 0) close(out_);
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

void HostServiceProcess::Kill() { Stop(SIGKILL); }

void HostServiceProcess::Stop(int signal) {
  if (pid_ <= 0) return;
  kill(pid_, signal);
  for (int i = 0; i < 50; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string HostServiceProcess::Notices(const std::string& until, int timeoutMs) const {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string text;
  do {
    std::ifstream in(folder_ / ".notices.log");
    std::stringstream s;
    s << in.rdbuf();
    text = s.str();
    if (text.find(until) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < end);
  return text;
}

}  // namespace hosttest
