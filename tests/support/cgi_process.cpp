#include "support/cgi_process.h"

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qbtest {

namespace fs = std::filesystem;

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TempSite::TempSite(const SiteFiles& files) {
  std::string pattern = (fs::temp_directory_path() / "qbsite.XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  fs::create_symlink(QBCGI_PATH, ProgramPath());
  WriteFile("qbcgi.cfg", files.config);
  WriteFile("cat.lst", files.categories);
  if (!files.banners.empty()) WriteFile("qbban.cfg", files.banners);
}

TempSite::~TempSite() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void TempSite::WriteFile(const std::string& name, const std::string& content) const {
  std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TempSite::ReadFile(const std::string& name) const { return ReadWholeFile(Path(name)); }

void TempSite::RemoveFile(const std::string& name) const {
  std::error_code ignored;
  fs::remove(Path(name), ignored);
}

CgiRequest Get(const std::string& query) {
  CgiRequest r;
  r.env = {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}, {"SCRIPT_NAME", "/cgi-bin/qbcgi.exe"},
           {"GATEWAY_INTERFACE", "CGI/1.1"}, {"REMOTE_ADDR", "127.0.0.1"}};
  return r;
}

std::string FormEncode(const std::string& value) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : value) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '*') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string FormBody(std::initializer_list<std::pair<std::string, std::string>> fields) {
  std::string body;
  for (const auto& [name, value] : fields) {
    if (!body.empty()) body += '&';
    body += name + "=" + FormEncode(value);
  }
  return body;
}

CgiRequest Post(const std::string& query, const std::string& body) {
  CgiRequest r = Get(query);
  r.env["REQUEST_METHOD"] = "POST";
  r.env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  r.env["CONTENT_LENGTH"] = std::to_string(body.size());
  r.body = body;
  return r;
}

namespace {

// Writes the body from a thread of its own would be overkill: bodies in
// tests fit a pipe's buffer or are fed from a temporary file.
int BodyDescriptor(const std::string& body) {
  char path[] = "/tmp/qbbody.XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::unlink(path);
  std::size_t done = 0;
  while (done < body.size()) {
    ssize_t n = ::write(fd, body.data() + done, body.size() - done);
    if (n <= 0) throw std::runtime_error("writing the body failed");
    done += static_cast<std::size_t>(n);
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

pid_t Start(const std::string& programPath, int inFd, int outFd, int pipeReadFd, std::vector<char*>& argv,
            std::vector<char*>& envp) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inFd, 0);
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  if (pipeReadFd >= 0) posix_spawn_file_actions_addclose(&actions, pipeReadFd);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, programPath.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Like Start, but the child drops to `user` before it runs the program; a
// child that cannot drop its privileges exits with 126 rather than run as
// root.
pid_t StartAsUser(const std::string& programPath, std::pair<uid_t, gid_t> user, int inFd, int outFd,
                  int pipeReadFd, std::vector<char*>& argv, std::vector<char*>& envp) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (::dup2(inFd, 0) < 0 || ::dup2(outFd, 1) < 0) ::_exit(126);
  if (pipeReadFd >= 0) ::close(pipeReadFd);
  if (::setgroups(0, nullptr) != 0 || ::setgid(user.second) != 0 || ::setuid(user.first) != 0) ::_exit(126);
  ::execve(programPath.c_str(), argv.data(), envp.data());
  ::_exit(127);
}

}  // namespace

CgiResult RunCgi(const std::string& programPath, const CgiRequest& request, Output output) {
  int inFd = BodyDescriptor(request.body);
  int outFd = -1;
  int pipeFds[2] = {-1, -1};
  if (output == Output::kFile) {
    char path[] = "/tmp/qbout.XXXXXX";
    outFd = ::mkstemp(path);
    ::unlink(path);
  } else {
    if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    outFd = pipeFds[1];
  }

  std::vector<std::string> envStrings;
  for (const auto& [k, v] : request.env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{programPath};
  argStrings.insert(argStrings.end(), request.args.begin(), request.args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  pid_t pid = request.user ? StartAsUser(programPath, *request.user, inFd, outFd, pipeFds[0], argv, envp)
                           : Start(programPath, inFd, outFd, pipeFds[0], argv, envp);
  ::close(inFd);
  if (pid < 0) throw std::runtime_error("spawning the program failed");

  CgiResult result;
  if (output == Output::kPipe) {
    ::close(pipeFds[1]);
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (output == Output::kFile) {
    ::lseek(outFd, 0, SEEK_SET);
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(outFd, buffer, sizeof buffer);
      if (n <= 0) break;
      result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(outFd);
  }
  return result;
}

}  // namespace qbtest
