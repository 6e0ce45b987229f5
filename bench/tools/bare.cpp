// Runs one program many times as a bare process, without a web server, and
// reports its wall time per run, its CPU time and its peak memory: the
// program's own share of a request, next to what the server adds.
//
//   bench_bare --program PATH --requests FILE [--mode cgi|argv]
//              [--runs N] [--seconds S] [--env NAME=VALUE]...
//              [--expect TEXT] [--save FILE]
//
// Each line of FILE is one request, fields separated by tabs; the runs
// cycle through the lines. In cgi mode the fields are METHOD, PATH_INFO,
// QUERY_STRING and optionally a body file, given on standard input with
// CONTENT_LENGTH as the web server does. In argv mode the fields are the
// program's arguments. A run fails when the program exits non-zero, is
// killed, or its output lacks TEXT; --save keeps the first run's output.
// Stops after N runs or S seconds, whichever comes first (at least 3 runs).
// Prints one JSON object.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double now_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::vector<std::string> split_tabs(const std::string &line)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return out;
        start = tab + 1;
    }
}

std::string json_escape(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

} // namespace

extern char **environ;

int main(int argc, char **argv)
{
    std::string program, requests_path, mode = "cgi", expect, save;
    long max_runs = 100;
    double max_seconds = 5;
    std::vector<std::string> extra_env;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i];
        const char *v = argv[i + 1];
        if (k == "--program") program = v;
        else if (k == "--requests") requests_path = v;
        else if (k == "--mode") mode = v;
        else if (k == "--runs") max_runs = std::atol(v);
        else if (k == "--seconds") max_seconds = std::atof(v);
        else if (k == "--env") extra_env.emplace_back(v);
        else if (k == "--expect") expect = v;
        else if (k == "--save") save = v;
        else {
            std::fprintf(stderr, "bench_bare: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (program.empty() || requests_path.empty() || (mode != "cgi" && mode != "argv")) {
        std::fprintf(stderr, "usage: bench_bare --program PATH --requests FILE [--mode cgi|argv] ...\n");
        return 2;
    }
    std::vector<std::vector<std::string>> requests;
    {
        FILE *f = std::fopen(requests_path.c_str(), "r");
        if (!f) {
            std::fprintf(stderr, "bench_bare: cannot read %s\n", requests_path.c_str());
            return 2;
        }
        char *line = nullptr;
        size_t cap = 0;
        ssize_t n;
        while ((n = getline(&line, &cap, f)) > 0) {
            std::string s(line, static_cast<size_t>(n));
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
                s.pop_back();
            if (!s.empty())
                requests.push_back(split_tabs(s));
        }
        std::free(line);
        std::fclose(f);
    }
    if (requests.empty()) {
        std::fprintf(stderr, "bench_bare: no requests in %s\n", requests_path.c_str());
        return 2;
    }

    std::vector<double> wall, cpu;
    long max_rss_kb = 0, failures = 0;
    std::string first_failure;
    double started = now_ms();
    for (long run = 0; run < max_runs; ++run) {
        if (run >= 3 && now_ms() - started > max_seconds * 1e3)
            break;
        const std::vector<std::string> &req = requests[static_cast<size_t>(run) % requests.size()];
        std::vector<std::string> env_store;
        std::vector<std::string> arg_store{program};
        std::string body_file;
        if (mode == "cgi") {
            const char *path = std::getenv("PATH");
            env_store.push_back(std::string("PATH=") + (path ? path : "/usr/bin:/bin"));
            env_store.emplace_back("GATEWAY_INTERFACE=CGI/1.1");
            env_store.emplace_back("SERVER_PROTOCOL=HTTP/1.1");
            env_store.push_back("REQUEST_METHOD=" + req[0]);
            env_store.push_back("PATH_INFO=" + (req.size() > 1 ? req[1] : std::string()));
            env_store.push_back("QUERY_STRING=" + (req.size() > 2 ? req[2] : std::string()));
            if (req.size() > 3 && !req[3].empty()) {
                body_file = req[3];
                struct stat st{};
                if (stat(body_file.c_str(), &st) != 0) {
                    std::fprintf(stderr, "bench_bare: no body file %s\n", body_file.c_str());
                    return 2;
                }
                env_store.push_back("CONTENT_LENGTH=" + std::to_string(st.st_size));
                env_store.emplace_back("CONTENT_TYPE=application/json");
            }
        } else {
            for (char **e = environ; *e; ++e)
                env_store.emplace_back(*e);
            arg_store.insert(arg_store.end(), req.begin(), req.end());
        }
        for (const std::string &e : extra_env)
            env_store.push_back(e);
        std::vector<char *> envp, args;
        for (std::string &e : env_store)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        for (std::string &a : arg_store)
            args.push_back(a.data());
        args.push_back(nullptr);

        int out_pipe[2];
        if (pipe(out_pipe) != 0)
            return 1;
        int in_fd = open(body_file.empty() ? "/dev/null" : body_file.c_str(), O_RDONLY);
        if (in_fd < 0)
            return 1;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
        posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
        posix_spawn_file_actions_addclose(&fa, out_pipe[0]);

        double t0 = now_ms();
        pid_t pid;
        int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&fa);
        close(out_pipe[1]);
        close(in_fd);
        if (rc != 0) {
            std::fprintf(stderr, "bench_bare: cannot start %s: %s\n", program.c_str(), std::strerror(rc));
            close(out_pipe[0]);
            return 1;
        }
        std::string output;
        char buf[65536];
        for (;;) {
            ssize_t n = read(out_pipe[0], buf, sizeof buf);
            if (n > 0)
                output.append(buf, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                break;
        }
        close(out_pipe[0]);
        int status = 0;
        rusage ru{};
        while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
        }
        double t1 = now_ms();
        wall.push_back(t1 - t0);
        cpu.push_back(static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
                      static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3);
        max_rss_kb = std::max(max_rss_kb, ru.ru_maxrss);
        bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                  (expect.empty() || output.find(expect) != std::string::npos);
        if (!ok) {
            if (failures == 0)
                first_failure = output.substr(0, 300);
            ++failures;
        }
        if (run == 0 && !save.empty()) {
            FILE *f = std::fopen(save.c_str(), "wb");
            if (f) {
                std::fwrite(output.data(), 1, output.size(), f);
                std::fclose(f);
            }
        }
    }
    double total = 0, total_cpu = 0;
    for (double w : wall)
        total += w;
    for (double c : cpu)
        total_cpu += c;
    std::printf("{\"runs\":%zu,\"failures\":%ld,\"mean_ms\":%.4f,\"p50_ms\":%.4f,\"p99_ms\":%.4f,"
                "\"cpu_ms\":%.4f,\"max_rss_kb\":%ld,\"first_failure\":\"%s\"}\n",
                wall.size(), failures, total / static_cast<double>(wall.size()), percentile(wall, 0.5),
                percentile(wall, 0.99), total_cpu / static_cast<double>(wall.size()), max_rss_kb,
                json_escape(first_failure).c_str());
    return failures == 0 ? 0 : 1;
}
