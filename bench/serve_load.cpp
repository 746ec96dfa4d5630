// The viewer under load: bsbchart serve on a 10800 x 8400 chart, 16 clients
// on loopback each fetching random tiles (a random zoom level, then a random
// tile of it) for 20 s, once with the server's tile cache and once without.
// Prints requests, failures, tiles per second, p50 and p99 latency, the cache's
// hit rate and the server's resident memory over the run. Exits 1 when a
// request failed or the server's memory grew beyond its cache and a margin.
//
//   serve_load BSBCHART WORKDIR [--seconds N] [--clients N] [--skewed]
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_charts.h"
#include "chart_writer.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTileSize = 256;
constexpr int kMaxZoom = 2;
constexpr int kCacheMegabytes = 64;
// Memory the server may take beyond its cache's bound and what it had after
// the first second, before the run counts as growing.
constexpr double kMarginMegabytes = 64.0;

struct Server {
    pid_t pid = -1;
    int port = 0;
};

// Starts `bsbchart serve CHART --cache MB` and reads the port from its first line.
bool StartServer(const std::string& command, const std::string& chart, int cacheMegabytes, Server* server) {
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string cache = std::to_string(cacheMegabytes);
    std::vector<char*> argv = {const_cast<char*>(command.c_str()), const_cast<char*>("serve"),
                               const_cast<char*>(chart.c_str()),   const_cast<char*>("--cache"),
                               const_cast<char*>(cache.c_str()),   nullptr};
    int spawned = posix_spawn(&server->pid, command.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return false;
    }
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    const size_t colon = line.rfind(':');
    if (line.rfind("Serving ", 0) != 0 || colon == std::string::npos) return false;
    server->port = std::atoi(line.c_str() + colon + 1);
    return server->port > 0;
}

int StopServer(const Server& server) {
    kill(server.pid, SIGINT);
    int status = 0;
    waitpid(server.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double ResidentMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kilobytes = 0;
            status >> kilobytes;
            return kilobytes / 1024.0;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0.0;
}

struct Level {
    int zoom;
    int64_t across, down;
};

std::vector<Level> Levels(double width, double height) {
    double largest = std::max(width, height);
    int minZoom = 0;
    while (largest > kTileSize) {
        largest /= 2;
        --minZoom;
    }
    std::vector<Level> levels;
    for (int z = minZoom; z <= kMaxZoom; ++z) {
        const double span = std::ldexp(static_cast<double>(kTileSize), -z);
        levels.push_back({z, static_cast<int64_t>(std::ceil(width / span)),
                          static_cast<int64_t>(std::ceil(height / span))});
    }
    return levels;
}

struct Result {
    std::vector<double> milliseconds;
    uint64_t failed = 0;
    std::string firstFailure;
};

void RunClient(int port, const std::string& chartId, const std::vector<Level>& levels, unsigned seed,
               Clock::time_point deadline, Result* result) {
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_connection_timeout(5);
    client.set_read_timeout(60);
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> level(0, levels.size() - 1);
    // Bounded in count as well as in time.
    for (int n = 0; n < 1000000 && Clock::now() < deadline; ++n) {
        const Level& l = levels[level(random)];
        const int64_t x = std::uniform_int_distribution<int64_t>(0, l.across - 1)(random);
        const int64_t y = std::uniform_int_distribution<int64_t>(0, l.down - 1)(random);
        const std::string path = "/api/charts/" + chartId + "/tiles/rgb/" + std::to_string(l.zoom) + "/" +
                                 std::to_string(x) + "/" + std::to_string(y) + ".png";
        const auto start = Clock::now();
        httplib::Result response = client.Get(path.c_str());
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const bool ok = response && response->status == 200 && response->body.size() > 8 &&
                        response->body.compare(1, 3, "PNG") == 0;
        if (!ok) {
            if (!result->failed++)
                result->firstFailure = path + ": " + (response ? std::to_string(response->status) + " " + response->body
                                                               : httplib::to_string(response.error()));
            continue;
        }
        result->milliseconds.push_back(ms);
    }
}

double Percentile(std::vector<double>& values, double p) {
    if (values.empty()) return 0.0;
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + k, values.end());
    return values[k];
}

struct Run {
    std::string label;
    uint64_t requests = 0, failed = 0;
    double seconds = 0, p50 = 0, p99 = 0, hitRate = -1;
    double firstMemory = 0, peakMemory = 0, lastMemory = 0;
    bool memoryBounded = true;
    int exitStatus = 0;
    std::string firstFailure;
};

Run Measure(const std::string& command, const std::string& chart, const std::string& chartId,
            const std::vector<Level>& levels, int cacheMegabytes, int clients, int seconds) {
    Run run;
    run.label = cacheMegabytes ? std::to_string(cacheMegabytes) + " MB" : "none";
    Server server;
    if (!StartServer(command, chart, cacheMegabytes, &server)) {
        std::fprintf(stderr, "serve_load: cannot start %s serve %s\n", command.c_str(), chart.c_str());
        std::exit(1);
    }
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(seconds);
    std::vector<Result> results(clients);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back(RunClient, server.port, chartId, std::cref(levels), 1000u + i, deadline, &results[i]);
    // The server's memory once a second.
    std::vector<double> memory;
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        memory.push_back(ResidentMegabytes(server.pid));
    }
    for (std::thread& t : threads) t.join();
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();

    httplib::Client status("127.0.0.1", server.port);
    if (httplib::Result r = status.Get("/api/status")) {
        const std::string& body = r->body;
        auto field = [&](const char* name) {
            const size_t at = body.find(std::string("\"") + name + "\": ");
            return at == std::string::npos ? 0.0 : std::atof(body.c_str() + at + std::strlen(name) + 4);
        };
        const double hits = field("hits"), misses = field("misses");
        if (cacheMegabytes && hits + misses > 0) run.hitRate = hits / (hits + misses);
    }
    run.exitStatus = StopServer(server);

    std::vector<double> all;
    for (Result& r : results) {
        all.insert(all.end(), r.milliseconds.begin(), r.milliseconds.end());
        run.failed += r.failed;
        if (run.firstFailure.empty()) run.firstFailure = r.firstFailure;
    }
    run.requests = all.size() + run.failed;
    run.p50 = Percentile(all, 0.50);
    run.p99 = Percentile(all, 0.99);
    if (!memory.empty()) {
        run.firstMemory = memory.front();
        run.peakMemory = *std::max_element(memory.begin(), memory.end());
        run.lastMemory = memory.back();
        run.memoryBounded = run.peakMemory <= run.firstMemory + cacheMegabytes + kMarginMegabytes;
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: serve_load BSBCHART WORKDIR [--seconds N] [--clients N] [--skewed]\n");
        return 2;
    }
    const std::string command = argv[1], dir = argv[2];
    int seconds = 20, clients = 16;
    bool skewed = false;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) seconds = std::max(1, std::min(600, std::atoi(argv[++i])));
        else if (arg == "--clients" && i + 1 < argc) clients = std::max(1, std::min(64, std::atoi(argv[++i])));
        else if (arg == "--skewed") skewed = true;
        else {
            std::fprintf(stderr, "serve_load: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }

    const auto started = Clock::now();
    bench::EncodedChart type4, type7;
    bench::EncodeCharts(&type4, &type7);
    const std::string name = skewed ? "skewed4" : "upright4";
    const std::string chart = dir + "/" + name + ".kap";
    const std::vector<uint8_t> bytes = chartwriter::AssembleChart(
        chartwriter::MakeHeaderBlock(skewed ? bench::SkewedHeader() : bench::UprightHeader(), 4), type4.rows);
    if (bytes.empty() || !chartwriter::WriteFileBytes(chart, bytes)) {
        std::fprintf(stderr, "serve_load: cannot write %s\n", chart.c_str());
        return 1;
    }
    std::fprintf(stderr, "serve_load: %s, %d x %d, %.1f MB, written in %.1f s\n", chart.c_str(), bench::kChartWidth,
                 bench::kChartHeight, bytes.size() / 1e6,
                 std::chrono::duration<double>(Clock::now() - started).count());

    // The map frame the server lays the chart in: its pixels when upright;
    // for the skewed chart the server's own description gives it.
    double width = bench::kChartWidth, height = bench::kChartHeight;
    if (skewed) {
        Server probe;
        if (!StartServer(command, chart, 0, &probe)) return 1;
        httplib::Client client("127.0.0.1", probe.port);
        httplib::Result r = client.Get("/api/charts");
        if (r) {
            const size_t frame = r->body.find("\"frame\"");
            const size_t w = r->body.find("\"width\": ", frame), h = r->body.find("\"height\": ", frame);
            width = std::atof(r->body.c_str() + w + 9);
            height = std::atof(r->body.c_str() + h + 10);
        }
        StopServer(probe);
    }
    const std::vector<Level> levels = Levels(width, height);

    std::printf("bsbchart serve under load: %d clients on loopback, random tiles of a %d x %d chart%s "
                "(a random zoom level %d ... %d, then a random tile of it), %d s each\n\n",
                clients, bench::kChartWidth, bench::kChartHeight, skewed ? " turned 15 degrees" : "",
                levels.front().zoom, kMaxZoom, seconds);
    std::printf("| Tile cache | Requests | Failed | Tiles/s | p50 | p99 | Cache hits | Server memory: 1st s / peak / last |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---|\n");
    bool ok = true;
    for (int cache : {kCacheMegabytes, 0}) {
        Run run = Measure(command, chart, name, levels, cache, clients, seconds);
        char hits[32] = "–";
        if (run.hitRate >= 0) std::snprintf(hits, sizeof hits, "%.0f %%", 100 * run.hitRate);
        std::printf("| %s | %llu | %llu | %.0f | %.1f ms | %.1f ms | %s | %.0f / %.0f / %.0f MB%s |\n",
                    run.label.c_str(), static_cast<unsigned long long>(run.requests),
                    static_cast<unsigned long long>(run.failed), (run.requests - run.failed) / run.seconds, run.p50,
                    run.p99, hits, run.firstMemory, run.peakMemory, run.lastMemory,
                    run.memoryBounded ? "" : " (grew)");
        std::fflush(stdout);
        if (run.failed) std::fprintf(stderr, "serve_load: first failure: %s\n", run.firstFailure.c_str());
        if (run.exitStatus != 0) std::fprintf(stderr, "serve_load: the server exited with %d\n", run.exitStatus);
        ok = ok && run.failed == 0 && run.memoryBounded && run.exitStatus == 0;
    }
    return ok ? 0 : 1;
}
