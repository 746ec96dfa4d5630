#include "serve.h"

#include <cstdio>

namespace command {

const char kServeUsage[] = "usage: bsbchart serve CHART... [--port N] [--bind ADDRESS] [--cache MB]";

}  // namespace command

#if !defined(BSBCHART_SERVE)

namespace command {

int RunServe(const std::vector<std::string>&) {
    std::fprintf(stderr,
                 "bsbchart: this bsbchart was built without the viewer; it needs the Debian packages "
                 "libspng-dev libcpp-httplib-dev libjs-leaflet when the build is configured\n");
    return 1;
}

}  // namespace command

#else

#include <httplib.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "serve_cache.h"
#include "serve_chart.h"
#include "text.h"

namespace command {

namespace {

const char kServeHelp[] =
    "usage: bsbchart serve CHART... [--port N] [--bind ADDRESS] [--cache MB]\n"
    "\n"
    "Serves the charts as a map in the browser until interrupted (Ctrl-C) and\n"
    "prints the address to open.\n"
    "\n"
    "  --port N          the port to listen on; by default a free one\n"
    "  --bind ADDRESS    the address to listen on (default 127.0.0.1: this machine only)\n"
    "  --cache MB        megabytes of finished tiles kept for panning back (default 64; 0 none)\n";

// Worker threads: a browser opens six connections, the load bench sixteen,
// each held open between requests.
constexpr size_t kWorkers = 32;
// Tiles are made for the screen now, not stored: quick compression.
constexpr int kTileCompression = 3;
constexpr uintmax_t kStaticLimit = 32u << 20;

struct Options {
    std::vector<std::string> charts;
    std::string bind = "127.0.0.1";
    int port = 0;
    size_t cacheBytes = size_t{64} << 20;
};

bool Usage(const std::string& message) {
    std::fprintf(stderr, "bsbchart: %s\n%s\n", message.c_str(), kServeUsage);
    return false;
}

// A whole number from `low` to `high`, digits only.
bool ReadCount(const std::string& text, long low, long high, long* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *value = std::strtol(text.c_str(), nullptr, 10);
    return *value >= low && *value <= high;
}

bool ParseOptions(const std::vector<std::string>& args, Options& options, bool& help) {
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options.charts.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (name != "--port" && name != "--bind" && name != "--cache")
            return Usage("unknown option \"" + arg + "\" for serve");
        std::string value;
        if (equals != std::string::npos) value = arg.substr(equals + 1);
        else if (i + 1 < args.size()) value = args[++i];
        else return Usage(name + " needs a value");
        long number = 0;
        if (name == "--port") {
            if (!ReadCount(value, 0, 65535, &number)) return Usage("--port takes a port number 0 ... 65535, not \"" + value + "\"");
            options.port = static_cast<int>(number);
        } else if (name == "--cache") {
            if (!ReadCount(value, 0, 1 << 20, &number)) return Usage("--cache takes megabytes 0 ... 1048576, not \"" + value + "\"");
            options.cacheBytes = static_cast<size_t>(number) << 20;
        } else {
            if (value.empty()) return Usage("--bind needs an address");
            options.bind = value;
        }
    }
    if (options.charts.empty()) return Usage("serve needs at least one CHART file");
    return true;
}

// The name a chart goes by in requests: its file name without the
// extension, in letters, digits, '.', '_' and '-'; never a number (numbers
// are indexes) and never twice.
std::string ChartId(const std::string& file, std::set<std::string>& taken) {
    std::string stem = file;
    const size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    std::string id;
    for (unsigned char c : stem)
        id += std::isalnum(c) || c == '.' || c == '_' || c == '-' ? static_cast<char>(c) : '-';
    if (id.empty() || id.find_first_not_of("0123456789") == std::string::npos) id = "chart-" + id;
    if (id == "." || id == "..") id = "chart";
    std::string unique = id;
    for (int n = 2; taken.count(unique); ++n) unique = id + "-" + std::to_string(n);
    taken.insert(unique);
    return unique;
}

struct StaticFile {
    std::string body;
    std::string type;
};

std::string ContentType(const std::filesystem::path& path) {
    const std::string ext = path.extension().string();
    if (ext == ".html") return "text/html; charset=utf-8";
    if (ext == ".js") return "text/javascript; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".png") return "image/png";
    if (ext == ".svg") return "image/svg+xml";
    if (ext == ".ico") return "image/x-icon";
    return "application/octet-stream";
}

// The page's files, installed beside the command: in the build tree
// viewer/ next to it, installed PREFIX/share/bsbchart/viewer.
std::filesystem::path ViewerDirectory() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const std::filesystem::path here = self.parent_path();
    for (const std::filesystem::path& candidate : {here / "viewer", here / ".." / "share" / "bsbchart" / "viewer"})
        if (std::filesystem::is_regular_file(candidate / "index.html", error)) return candidate;
    return {};
}

// Every file of the page read once, at start: requests are answered from
// this table and never reach the file system.
bool LoadStaticFiles(std::map<std::string, StaticFile>& files) {
    const std::filesystem::path dir = ViewerDirectory();
    if (dir.empty()) {
        std::fprintf(stderr, "bsbchart: the viewer's page is missing (viewer/index.html beside the command)\n");
        return false;
    }
    uintmax_t total = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        total += it->file_size(error);
        if (total > kStaticLimit) break;
        std::FILE* file = std::fopen(it->path().c_str(), "rb");
        if (!file) continue;
        StaticFile entry;
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) entry.body.append(buffer, n);
        std::fclose(file);
        entry.type = ContentType(it->path());
        files["/" + std::filesystem::relative(it->path(), dir, error).generic_string()] = std::move(entry);
    }
    if (!files.count("/index.html")) {
        std::fprintf(stderr, "bsbchart: cannot read the viewer's page in %s\n", dir.c_str());
        return false;
    }
    return true;
}

void Send(httplib::Response& response, const serve::Reply& reply) {
    response.status = reply.status;
    response.set_content(reply.body, reply.type.c_str());
}

void SendText(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text + "\n", "text/plain; charset=utf-8");
}

// A tile number: an optional minus and at most nine digits.
bool ReadInteger(const std::string& text, int64_t* value) {
    size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == start || text.size() - start > 9) return false;
    for (size_t i = start; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    *value = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

bool ReadParameter(const httplib::Request& request, const char* name, double* value) {
    if (!request.has_param(name)) return false;
    const std::string text = request.get_param_value(name);
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(*value);
}

class Viewer {
public:
    Viewer(std::vector<serve::Chart>& charts, size_t cacheBytes, std::map<std::string, StaticFile>& files)
        : charts_(charts), cache_(cacheBytes), cacheBytes_(cacheBytes), files_(files) {
        revision_ = std::to_string(static_cast<long>(getpid())) + "-" + std::to_string(static_cast<long>(time(nullptr)));
        charts_json_ = "{\"revision\": \"" + revision_ + "\", \"charts\": [";
        for (size_t i = 0; i < charts_.size(); ++i) charts_json_ += (i ? ", " : "") + serve::DescribeChart(charts_[i], i);
        charts_json_ += "]}";
    }

    void Route(httplib::Server& server) {
        server.Get("/api/charts", [this](const httplib::Request&, httplib::Response& response) {
            response.set_header("Cache-Control", "no-cache");
            response.set_content(charts_json_, "application/json");
        });
        server.Get("/api/status", [this](const httplib::Request&, httplib::Response& response) {
            const serve::TileCache::Counts c = cache_.counts();
            response.set_header("Cache-Control", "no-store");
            response.set_content("{\"charts\": " + std::to_string(charts_.size()) + ", \"cache\": {\"capacity\": " +
                                     std::to_string(cacheBytes_) + ", \"bytes\": " + std::to_string(c.bytes) +
                                     ", \"entries\": " + std::to_string(c.entries) + ", \"hits\": " +
                                     std::to_string(c.hits) + ", \"misses\": " + std::to_string(c.misses) + "}}",
                                 "application/json");
        });
        server.Get(R"(/api/charts/([^/]+)/tiles/([^/]+)/([^/]+)/([^/]+)/([^/]+)\.png)",
                   [this](const httplib::Request& request, httplib::Response& response) { Tile(request, response); });
        server.Get(R"(/api/charts/([^/]+)/position)", [this](const httplib::Request& request, httplib::Response& response) {
            const serve::Chart* chart = Find(request.matches[1]);
            double x, y;
            if (!chart) return SendText(response, 404, "unknown chart");
            if (!ReadParameter(request, "mapX", &x) || !ReadParameter(request, "mapY", &y))
                return SendText(response, 400, "position needs the numbers mapX and mapY");
            response.set_header("Cache-Control", "no-cache");
            Send(response, serve::PositionAt(*chart, x, y));
        });
        server.Get(R"(/api/charts/([^/]+)/locate)", [this](const httplib::Request& request, httplib::Response& response) {
            const serve::Chart* chart = Find(request.matches[1]);
            double x, y;
            if (!chart) return SendText(response, 404, "unknown chart");
            if (!ReadParameter(request, "lon", &x) || !ReadParameter(request, "lat", &y))
                return SendText(response, 400, "locate needs the numbers lat and lon");
            response.set_header("Cache-Control", "no-cache");
            Send(response, serve::Locate(*chart, x, y));
        });
        server.Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
            auto found = files_.find(request.path == "/" ? "/index.html" : request.path);
            if (found == files_.end()) return SendText(response, 404, "not found");
            response.set_header("Cache-Control", "no-cache");
            if (found->first == "/index.html")
                response.set_header("Content-Security-Policy",
                                    "default-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'");
            response.set_content(found->second.body, found->second.type.c_str());
        });
    }

private:
    // By index ("0") or identifier ("harbour-4"), nothing else.
    const serve::Chart* Find(const std::string& name) const {
        int64_t index;
        if (name.find_first_not_of("0123456789") == std::string::npos && ReadInteger(name, &index))
            return index < static_cast<int64_t>(charts_.size()) ? &charts_[static_cast<size_t>(index)] : nullptr;
        for (const serve::Chart& chart : charts_)
            if (chart.id == name) return &chart;
        return nullptr;
    }

    void Tile(const httplib::Request& request, httplib::Response& response) {
        const serve::Chart* chart = Find(request.matches[1]);
        if (!chart) return SendText(response, 404, "unknown chart");
        const int palette = serve::PaletteFromName(request.matches[2]);
        if (palette < 0) return SendText(response, 404, "unknown palette");
        int64_t zoom, x, y;
        if (!ReadInteger(request.matches[3], &zoom) || !ReadInteger(request.matches[4], &x) ||
            !ReadInteger(request.matches[5], &y))
            return SendText(response, 400, "tile numbers must be whole numbers");
        const size_t index = static_cast<size_t>(chart - charts_.data());
        const std::string key = std::to_string(index) + "/" + std::to_string(palette) + "/" + std::to_string(zoom) +
                                "/" + std::to_string(x) + "/" + std::to_string(y);
        std::shared_ptr<const std::string> tile = cache_.Find(key);
        if (!tile) {
            serve::Reply reply = serve::RenderTile(*chart, palette, static_cast<int>(zoom), x, y, kTileCompression);
            if (reply.status != 200) {
                if (reply.status >= 500)
                    std::fprintf(stderr, "bsbchart: tile %s/%s/%s/%s/%s: %s", chart->id.c_str(),
                                 serve::PaletteName(palette).c_str(), request.matches[3].str().c_str(),
                                 request.matches[4].str().c_str(), request.matches[5].str().c_str(), reply.body.c_str());
                return Send(response, reply);
            }
            tile = std::make_shared<const std::string>(std::move(reply.body));
            cache_.Insert(key, tile);
            response.set_header("X-Tile-Cache", "miss");
        } else {
            response.set_header("X-Tile-Cache", "hit");
        }
        // The page asks with the server's revision in the query: a tile
        // never changes while its server runs.
        response.set_header("Cache-Control", "max-age=86400");
        response.set_content(*tile, "image/png");
    }

    const std::vector<serve::Chart>& charts_;
    serve::TileCache cache_;
    size_t cacheBytes_;
    const std::map<std::string, StaticFile>& files_;
    std::string revision_;
    std::string charts_json_;
};

std::string UrlHost(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

}  // namespace

int RunServe(const std::vector<std::string>& args) {
    Options options;
    bool help = false;
    if (!ParseOptions(args, options, help)) return 2;
    if (help) {
        std::fputs(kServeHelp, stdout);
        return 0;
    }
    std::map<std::string, StaticFile> files;
    if (!LoadStaticFiles(files)) return 1;

    std::vector<serve::Chart> charts(options.charts.size());
    std::set<std::string> taken;
    auto closeAll = [&charts] {
        for (serve::Chart& chart : charts) serve::CloseChart(chart);
    };
    for (size_t i = 0; i < charts.size(); ++i) {
        const std::string problem = serve::OpenChart(options.charts[i], charts[i]);
        if (!problem.empty()) {
            std::fprintf(stderr, "bsbchart: %s\n", problem.c_str());
            closeAll();
            return 1;
        }
        charts[i].id = ChartId(charts[i].file, taken);
    }

    // SIGINT and SIGTERM are taken by one thread of their own, which stops
    // the server; every other thread has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int status = 0;
    {
        Viewer viewer(charts, options.cacheBytes, files);
        httplib::Server server;
        server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
        server.set_keep_alive_max_count(1000);
        server.set_keep_alive_timeout(5);
        server.set_read_timeout(10);
        server.set_write_timeout(10);
        server.set_tcp_nodelay(true);
        server.set_payload_max_length(1 << 16);
        server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            SendText(response, 500, "internal error");
        });
        viewer.Route(server);

        int port = options.port;
        const bool bound = port == 0 ? (port = server.bind_to_any_port(options.bind)) > 0
                                     : server.bind_to_port(options.bind, port);
        if (!bound) {
            std::fprintf(stderr, "bsbchart: cannot listen on %s port %d\n", options.bind.c_str(), options.port);
            closeAll();
            return 1;
        }
        std::printf("Serving %zu chart%s at http://%s:%d/\n", charts.size(), charts.size() == 1 ? "" : "s",
                    UrlHost(options.bind).c_str(), port);
        std::printf("Press Ctrl-C to stop.\n");
        std::fflush(stdout);

        std::atomic<bool> done{false};
        std::thread stopper([&] {
            const timespec pause = {0, 200 * 1000 * 1000};
            while (!done) {
                if (sigtimedwait(&stopSignals, nullptr, &pause) > 0) {
                    // A signal that comes before the server has started
                    // listening stops it once it has.
                    while (!done && !server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    server.stop();
                    return;
                }
            }
        });
        if (!server.listen_after_bind()) status = 1;
        done = true;
        stopper.join();
    }
    closeAll();
    if (status == 0) std::printf("Stopped.\n");
    return status;
}

}  // namespace command

#endif
