// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// Runs one program on the current X display and measures it from outside:
//
//   qo_bench_proc startup [options] -- PROGRAM ARGS...
//       time from just before fork to the MapNotify of its window (found by
//       title on the root window's substructure), then closes the window as
//       a window manager would (WM_DELETE_WINDOW) and takes the process's
//       peak resident memory from wait4().
//       prints: map_ms, peak_rss_kib, exit_status
//
//   qo_bench_proc cpu [options] -- PROGRAM ARGS...
//       once the window is mapped and settled, the CPU time of all the
//       process's threads over --seconds, while --rate reports a second are
//       written to the virtual switch box's pipe (press and release of one
//       switch, in turn, so that every report changes the display).
//       prints: cpu_pct (from the scheduler's nanosecond run times),
//               cpu_pct_ticks (utime + stime, clock ticks), reports
//
// Options: --title T (window to wait for), --cwd DIR, --env NAME=VALUE
// (repeatable), --log FILE (child's stdout and stderr, default /dev/null),
// --hold-ms N (startup: time the window stays up before the close),
// --settle-ms N, --seconds S, --rate R, --pipe PATH, --switch N (cpu).

#include <xcb/xcb.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options
{
    std::string mode;
    std::string title;
    std::string cwd;
    std::string log = "/dev/null";
    std::string pipe;
    std::vector<std::string> env;
    std::vector<std::string> argv;
    int hold_ms = 500;
    int settle_ms = 1000;
    double seconds = 10.0;
    double rate = 0.0;
    int switch_no = 2;
};

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "qo_bench_proc: %s\n", what.c_str());
    std::exit(2);
}

double now_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Applies the option at argv[i]; returns the index of the last argument it
// used, so that the caller steps over the option's value.
int take_option(Options &o, int argc, char **argv, int i)
{
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
        if (i + 1 >= argc)
            fail(a + " needs a value");
        return argv[++i];
    };
    if (a == "--title")
        o.title = value();
    else if (a == "--cwd")
        o.cwd = value();
    else if (a == "--log")
        o.log = value();
    else if (a == "--pipe")
        o.pipe = value();
    else if (a == "--env")
        o.env.push_back(value());
    else if (a == "--hold-ms")
        o.hold_ms = std::stoi(value());
    else if (a == "--settle-ms")
        o.settle_ms = std::stoi(value());
    else if (a == "--seconds")
        o.seconds = std::stod(value());
    else if (a == "--rate")
        o.rate = std::stod(value());
    else if (a == "--switch")
        o.switch_no = std::stoi(value());
    else
        fail("unknown option " + a);
    return i;
}

Options parse(int argc, char **argv)
{
    if (argc < 2)
        fail("usage: qo_bench_proc startup|cpu [options] -- PROGRAM ARGS...");
    Options o;
    o.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            for (++i; i < argc; ++i)
                o.argv.emplace_back(argv[i]);
            break;
        }
        i = take_option(o, argc, argv, i);
    }
    if (o.argv.empty() || o.title.empty())
        fail("need --title and a program after --");
    if (o.mode != "startup" && o.mode != "cpu")
        fail("unknown mode " + o.mode);
    if (o.mode == "cpu" && o.rate > 0 && o.pipe.empty())
        fail("--rate needs --pipe");
    return o;
}

class X
{
public:
    X()
    {
        conn = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(conn) != 0)
            fail("cannot connect to the X display");
        root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(conn, root, XCB_CW_EVENT_MASK, &mask);
        wm_protocols = atom("WM_PROTOCOLS");
        wm_delete = atom("WM_DELETE_WINDOW");
        net_wm_name = atom("_NET_WM_NAME");
        utf8 = atom("UTF8_STRING");
        xcb_flush(conn);
    }
    ~X() { xcb_disconnect(conn); }

    xcb_atom_t atom(const char *name) const
    {
        auto *reply = xcb_intern_atom_reply(
            conn, xcb_intern_atom(conn, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        if (!reply)
            fail(std::string("cannot intern ") + name);
        const xcb_atom_t a = reply->atom;
        std::free(reply); // NOLINT(cppcoreguidelines-no-malloc) xcb replies are released with free()
        return a;
    }

    std::string title(xcb_window_t w)
    {
        for (const auto &[property, type] :
             {std::pair{net_wm_name, utf8},
              std::pair{xcb_atom_t(XCB_ATOM_WM_NAME), xcb_atom_t(XCB_ATOM_STRING)}}) {
            auto *reply =
                xcb_get_property_reply(conn, xcb_get_property(conn, 0, w, property, type, 0, 256), nullptr);
            if (!reply)
                continue;
            std::string text(static_cast<const char *>(xcb_get_property_value(reply)),
                             static_cast<std::size_t>(xcb_get_property_value_length(reply)));
            std::free(reply); // NOLINT(cppcoreguidelines-no-malloc) xcb replies are released with free()
            if (!text.empty())
                return text;
        }
        return {};
    }

    // Waits for the MapNotify of a top-level window titled `title`; returns
    // the window and the time the event was read, or 0 on timeout.
    xcb_window_t wait_mapped(const std::string &title, pid_t child, double deadline_ms, double &mapped_at)
    {
        const int fd = xcb_get_file_descriptor(conn);
        while (now_ms() < deadline_ms) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(conn)) {
                const double at = now_ms();
                xcb_window_t window = 0;
                if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY)
                    window = reinterpret_cast<xcb_map_notify_event_t *>(event)->window;
                std::free(event); // NOLINT(cppcoreguidelines-no-malloc) xcb events are released with free()
                if (window != 0 && this->title(window) == title) {
                    mapped_at = at;
                    return window;
                }
            }
            if (xcb_connection_has_error(conn) != 0)
                fail("X connection lost");
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child)
                fail("the program ended before its window was mapped (status " + std::to_string(status)
                     + ")");
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 5);
        }
        return 0;
    }

    void close_window(xcb_window_t w) const
    {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = wm_protocols;
        ev.data.data32[0] = wm_delete;
        ev.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(conn, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&ev));
        xcb_flush(conn);
    }

    xcb_connection_t *conn = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t wm_protocols = 0, wm_delete = 0, net_wm_name = 0, utf8 = 0;
};

pid_t spawn(const Options &o)
{
    const pid_t pid = fork();
    if (pid < 0)
        fail("fork failed");
    if (pid == 0) {
        if (!o.cwd.empty() && chdir(o.cwd.c_str()) != 0)
            _exit(127);
        for (const std::string &kv : o.env) {
            const auto eq = kv.find('=');
            setenv(kv.substr(0, eq).c_str(), eq == std::string::npos ? "" : kv.c_str() + eq + 1, 1);
        }
        const int log = ::open(o.log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        std::vector<char *> args;
        // execv takes char *const[] but does not write through it.
        for (const std::string &a : o.argv)
            args.push_back(const_cast<char *>(a.c_str())); // NOLINT(cppcoreguidelines-pro-type-const-cast)
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void pause_ms(double ms)
{
    const double until = now_ms() + ms;
    double left = until - now_ms();
    while (left > 0) {
        timespec ts{static_cast<time_t>(left / 1e3), static_cast<long>(std::fmod(left, 1e3) * 1e6)};
        nanosleep(&ts, nullptr);
        left = until - now_ms();
    }
}

// Closes the window and reaps the process; the peak resident memory comes
// with the child's resource usage.
void finish(X &x, xcb_window_t w, pid_t pid, int &exit_status, long &peak_kib)
{
    x.close_window(w);
    rusage usage{};
    int status = 0;
    const double deadline = now_ms() + 5000;
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (now_ms() > deadline) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            fail("the program did not end after its window was closed");
        }
        pause_ms(1);
    }
    exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // glibc declares rusage's fields inside unions.
    peak_kib = usage.ru_maxrss; // NOLINT(cppcoreguidelines-pro-type-union-access)
}

struct CpuSample
{
    long long run_ns = -1; // -1: no scheduler statistics on this kernel
    long long ticks = 0;
};

CpuSample cpu_sample(pid_t pid)
{
    CpuSample s;
    const std::string base = "/proc/" + std::to_string(pid);
    {
        std::ifstream stat(base + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(')');
        if (close == std::string::npos)
            fail("cannot read " + base + "/stat");
        std::istringstream in(text.substr(close + 2));
        std::string field;
        // Fields from the state on: utime and stime are the 12th and 13th.
        for (int i = 1; i <= 13 && in >> field; ++i) {
            if (i >= 12)
                s.ticks += std::stoll(field);
        }
    }
    if (DIR *dir = opendir((base + "/task").c_str())) {
        long long sum = 0;
        bool any = false;
        while (dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream schedstat(base + "/task/" + entry->d_name + "/schedstat");
            long long ns = 0;
            if (schedstat >> ns) {
                sum += ns;
                any = true;
            }
        }
        closedir(dir);
        if (any)
            s.run_ns = sum;
    }
    return s;
}

int open_pipe(const std::string &path)
{
    const double deadline = now_ms() + 5000;
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            return fd;
        if (now_ms() > deadline)
            fail("no reader on the switch box pipe " + path + ": " + std::strerror(errno));
        pause_ms(10);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const Options o = parse(argc, argv);
    X x;

    const double started = now_ms();
    const pid_t pid = spawn(o);
    double mapped = 0;
    const xcb_window_t window = x.wait_mapped(o.title, pid, started + 20000, mapped);
    if (window == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        fail("no window titled \"" + o.title + "\" was mapped within 20 s");
    }

    if (o.mode == "startup") {
        pause_ms(o.hold_ms);
        int status = 0;
        long peak = 0;
        finish(x, window, pid, status, peak);
        std::printf("map_ms %.3f\npeak_rss_kib %ld\nexit_status %d\n", mapped - started, peak, status);
        return status == 0 ? 0 : 1;
    }

    pause_ms(o.settle_ms);
    int pipe_fd = -1;
    if (o.rate > 0)
        pipe_fd = open_pipe(o.pipe);

    const CpuSample before = cpu_sample(pid);
    const double t0 = now_ms();
    int reports = 0;
    if (o.rate > 0) {
        const double period = 1000.0 / o.rate;
        const double end = t0 + o.seconds * 1000.0;
        // Send times come from the count, not a running sum, so that rounding
        // does not build up over a long run.
        for (long long k = 0; t0 + static_cast<double>(k) * period < end; ++k) {
            pause_ms(t0 + static_cast<double>(k) * period - now_ms());
            const std::string line =
                (reports % 2 == 0 ? "press " : "release ") + std::to_string(o.switch_no) + "\n";
            if (::write(pipe_fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                fail("cannot write to the switch box pipe");
            ++reports;
        }
    }
    pause_ms(t0 + o.seconds * 1000.0 - now_ms());
    const CpuSample after = cpu_sample(pid);
    const double elapsed = now_ms() - t0;
    if (pipe_fd >= 0)
        ::close(pipe_fd);

    const double tick_ms = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    const double pct_ticks = 100.0 * static_cast<double>(after.ticks - before.ticks) * tick_ms / elapsed;
    const double pct = (before.run_ns >= 0 && after.run_ns >= 0)
                           ? 100.0 * static_cast<double>(after.run_ns - before.run_ns) / 1e6 / elapsed
                           : pct_ticks;

    int status = 0;
    long peak = 0;
    finish(x, window, pid, status, peak);
    std::printf("cpu_pct %.4f\ncpu_pct_ticks %.4f\nreports %d\nseconds %.3f\nexit_status %d\n", pct,
                pct_ticks, reports, elapsed / 1000.0, status);
    return status == 0 ? 0 : 1;
}
