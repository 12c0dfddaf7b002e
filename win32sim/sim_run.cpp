// RunProgram: one whole program run in a forked child, so that every run
// starts from the real process-start state of the program's globals.
//
// The child streams its events through a pipe as they are recorded, so the
// parent has the trace up to a crash. Records: 'E' an event, 'X' the entry's
// result and the end time, 'A' an abort message and the end time.
#include "sim_state.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sim {
namespace detail {

int g_childFd = -1;

namespace {

void WriteAll(const std::string& bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = write(g_childFd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) _exit(125);  // the parent is gone
        p += n;
        left -= static_cast<size_t>(n);
    }
}

template <class T>
void Put(std::string& out, const T& v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

void PutText(std::string& out, const std::string& s) {
    Put(out, static_cast<uint32_t>(s.size()));
    out += s;
}

// Reads back what Put wrote; false once the bytes run out (a crash can cut
// the last record short).
struct Reader {
    const std::string& in;
    size_t pos = 0;

    template <class T>
    bool Get(T& v) {
        if (in.size() - pos < sizeof v) return false;
        std::memcpy(&v, in.data() + pos, sizeof v);
        pos += sizeof v;
        return true;
    }
    bool GetText(std::string& s) {
        uint32_t n;
        if (!Get(n) || in.size() - pos < n) return false;
        s.assign(in, pos, n);
        pos += n;
        return true;
    }
    bool GetEvent(Event& e) {
        return Get(e.t) && Get(e.kind) && Get(e.ok) && Get(e.handle) && Get(e.id) && Get(e.value) &&
               Get(e.value2) && Get(e.flags) && Get(e.rect) && Get(e.font) && GetText(e.text) && GetText(e.text2);
    }
};

}  // namespace

void ShipEvent(const Event& e) {
    std::string out(1, 'E');
    Put(out, e.t);
    Put(out, e.kind);
    Put(out, e.ok);
    Put(out, e.handle);
    Put(out, e.id);
    Put(out, e.value);
    Put(out, e.value2);
    Put(out, e.flags);
    Put(out, e.rect);
    Put(out, e.font);
    PutText(out, e.text);
    PutText(out, e.text2);
    WriteAll(out);
}

[[noreturn]] void ShipAbortAndExit(const std::string& message) {
    std::string out(1, 'A');
    Put(out, g_now);
    PutText(out, message);
    WriteAll(out);
    _exit(0);
}

}  // namespace detail

using namespace detail;

RunResult RunProgram(const Scenario& scenario, std::function<int()> entry) {
    RunResult result;
    int fds[2];
    if (pipe(fds) != 0) {
        result.abortMessage = std::string("win32sim: pipe failed: ") + std::strerror(errno);
        return result;
    }
    std::fflush(nullptr);  // or the child would inherit unwritten output
    pid_t pid = fork();
    if (pid < 0) {
        result.abortMessage = std::string("win32sim: fork failed: ") + std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    if (pid == 0) {
        close(fds[0]);
        g_childFd = fds[1];
        if (scenario.wallClockLimitSeconds) alarm(scenario.wallClockLimitSeconds);
        Reset(scenario);
        int code = entry();
        std::string out(1, 'X');
        Put(out, g_now);
        Put(out, code);
        WriteAll(out);
        _exit(0);  // no atexit handlers, no test framework teardown
    }

    close(fds[1]);
    std::string bytes;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    Reader r{bytes};
    char tag;
    while (r.Get(tag)) {
        if (tag == 'E') {
            Event e;
            if (!r.GetEvent(e)) break;
            result.endTime = e.t;
            result.trace.push_back(std::move(e));
        } else if (tag == 'X') {
            if (!r.Get(result.endTime) || !r.Get(result.exitCode)) break;
            result.returned = true;
        } else if (tag == 'A') {
            if (!r.Get(result.endTime) || !r.GetText(result.abortMessage)) break;
        } else {
            break;
        }
    }
    if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
        if (result.signal == SIGALRM)
            result.abortMessage = "win32sim: wall-clock limit of " +
                                  std::to_string(scenario.wallClockLimitSeconds) + " s passed";
    } else if (WIFEXITED(status) && !result.returned && result.abortMessage.empty()) {
        result.exitStatus = WEXITSTATUS(status);
    }
    return result;
}

std::string RunResult::Describe() const {
    std::string s;
    if (returned)
        s = "returned " + std::to_string(exitCode);
    else if (signal)
        s = "killed by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
    else if (!abortMessage.empty())
        s = "aborted";
    else
        s = "exited with status " + std::to_string(exitStatus) + " without returning";
    s += " at " + std::to_string(endTime) + " ms, " + std::to_string(trace.size()) + " events";
    if (!abortMessage.empty()) s += ": " + abortMessage;
    return s;
}

}  // namespace sim
