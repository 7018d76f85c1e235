#include "server/transport.h"

#include <openssl/ssl.h>

#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <condition_variable>
#include <ctime>
#include <limits>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <unordered_map>

namespace veltrix::server {
namespace {

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// A connection past the cap is still answered (503 with Retry-After, so that
// the agent backs off); past twice the cap it is closed unanswered, so that
// a flood cannot make the server do TLS for every connection it opens.
constexpr std::size_t kHardCapFactor = 2;
constexpr int kBusyRetryAfterSeconds = 10;

std::string utcTimeWithMillis() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[40];
    std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
    return text;
}

// What a client sent may hold anything: the log gets printable ASCII only,
// and not much of it.
std::string loggable(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 200)) {
        unsigned char u = static_cast<unsigned char>(c);
        out += (u > 0x20 && u < 0x7F) ? c : '?';
    }
    return out.empty() ? "-" : out;
}

const char* reasonText(unsigned status) {
    switch (status) {
        case 200: return "OK";
        case 201: return "Created";
        case 303: return "See Other";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 409: return "Conflict";
        case 413: return "Payload Too Large";
        case 422: return "Unprocessable Entity";
        case 429: return "Too Many Requests";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "";
    }
}

struct Shared {
    TransportOptions options;
    std::vector<Route> routes;
    std::mutex logMutex;
    std::atomic<std::size_t> connections{0};
    std::atomic<bool> stopping{false};

    void logLine(const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        std::fputs(line.c_str(), options.log);
        std::fputc('\n', options.log);
        std::fflush(options.log);
    }
    const Route* route(std::string_view method, std::string_view path, bool& pathKnown) const {
        pathKnown = false;
        for (const auto& r : routes) {
            if (r.prefix ? !(path.size() > r.path.size() && path.substr(0, r.path.size()) == r.path) : r.path != path) {
                continue;
            }
            pathKnown = true;
            if (r.method == method) return &r;
        }
        return nullptr;
    }
};

class SessionBase : public std::enable_shared_from_this<SessionBase> {
public:
    virtual ~SessionBase() = default;
    virtual void start() = 0;
    // Closes the connection when it waits for a request that has not begun.
    virtual void stopIfIdle() = 0;
};

class Registry {
public:
    void add(SessionBase* key, std::weak_ptr<SessionBase> session) {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_[key] = std::move(session);
    }
    void remove(SessionBase* key) {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_.erase(key);
        if (sessions_.empty()) empty_.notify_all();
    }
    std::vector<std::shared_ptr<SessionBase>> all() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::shared_ptr<SessionBase>> out;
        for (auto& [key, weak] : sessions_) {
            if (auto session = weak.lock()) out.push_back(std::move(session));
        }
        return out;
    }

private:
    std::mutex mutex_;
    std::condition_variable empty_;
    std::unordered_map<SessionBase*, std::weak_ptr<SessionBase>> sessions_;
};

template <bool Tls>
class Session final : public SessionBase {
    using Stream = std::conditional_t<Tls, beast::ssl_stream<beast::tcp_stream>, beast::tcp_stream>;

public:
    Session(tcp::socket socket, ssl::context* tls, Shared& shared, Registry& registry, net::thread_pool& workers,
            bool overCap)
        : stream_(makeStream(std::move(socket), tls)),
          shared_(shared),
          registry_(registry),
          workers_(workers),
          overCap_(overCap) {
        beast::error_code ignored;
        auto endpoint = beast::get_lowest_layer(stream_).socket().remote_endpoint(ignored);
        peer_ = ignored ? "-" : endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
        ++shared_.connections;
    }
    ~Session() override {
        --shared_.connections;
        registry_.remove(this);
    }

    void start() override {
        registry_.add(this, weak_from_this());
        net::dispatch(beast::get_lowest_layer(stream_).get_executor(),
                      [self = shared()]() { self->begin(); });
    }

    void stopIfIdle() override {
        net::post(beast::get_lowest_layer(stream_).get_executor(), [self = shared()]() {
            if (self->state_ == State::Handshake ||
                (self->state_ == State::ReadingHeader && self->buffer_.size() == 0 &&
                 !(self->parser_ && self->parser_->got_some()))) {
                self->close();
            }
        });
    }

private:
    enum class State { Handshake, ReadingHeader, ReadingBody, Working, Writing, Closed };

    static Stream makeStream(tcp::socket socket, ssl::context* tls) {
        if constexpr (Tls) {
            return Stream(std::move(socket), *tls);
        } else {
            (void)tls;
            return Stream(std::move(socket));
        }
    }

    std::shared_ptr<Session> shared() { return std::static_pointer_cast<Session>(shared_from_this()); }

    void deadline() { beast::get_lowest_layer(stream_).expires_after(shared_.options.readTimeout); }

    void begin() {
        if constexpr (Tls) {
            state_ = State::Handshake;
            deadline();
            stream_.async_handshake(ssl::stream_base::server, [self = shared()](beast::error_code error) {
                if (error) {
                    self->shared_.logLine(utcTimeWithMillis() + " " + self->peer_ + " - TLS handshake failed: " +
                                          loggable(error.message()));
                    return self->close();
                }
                self->readHeader();
            });
        } else {
            readHeader();
        }
    }

    void readHeader() {
        if (shared_.stopping && requests_ > 0) return close();
        state_ = State::ReadingHeader;
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(shared_.options.headerLimit));
        // The route decides once the header is in; until then no length is refused.
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
        started_ = Clock::now();
        deadline();
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared()](beast::error_code error, std::size_t) { self->onHeader(error); });
    }

    void onHeader(beast::error_code error) {
        if (error) {
            if (error == http::error::header_limit) {
                return answerAndClose(errorResponse(431, "the request's headers pass the limit of " +
                                                             std::to_string(shared_.options.headerLimit) + " bytes"));
            }
            if (error == beast::error::timeout) {
                if (parser_->got_some() || buffer_.size() > 0) logClosed("read timeout");
                return close();
            }
            if (error == http::error::end_of_stream || error == net::error::operation_aborted ||
                error == net::error::connection_reset || error == net::error::eof ||
                error == ssl::error::stream_truncated) {
                return close();
            }
            return answerAndClose(errorResponse(400, "the request is not valid HTTP/1.1"));
        }
        auto& header = parser_->get();
        method_ = std::string(header.method_string());
        std::string_view target(header.target().data(), header.target().size());
        path_ = std::string(target.substr(0, target.find('?')));
        query_ = target.find('?') == std::string_view::npos ? std::string() : std::string(target.substr(target.find('?') + 1));
        if (overCap_) {
            return answerAndClose(busy());
        }
        bool pathKnown = false;
        route_ = shared_.route(method_, path_, pathKnown);
        if (!route_) {
            return answerAndClose(pathKnown ? errorResponse(405, "this path takes another method")
                                            : errorResponse(404, "there is no such endpoint"));
        }
        if (auto length = parser_->content_length(); length && *length > route_->bodyLimit) {
            return answerAndClose(errorResponse(413, "the body of " + std::to_string(*length) +
                                                         " bytes passes the limit of " +
                                                         std::to_string(route_->bodyLimit)));
        }
        parser_->body_limit(route_->bodyLimit);
        state_ = State::ReadingBody;
        auto expect = header[http::field::expect];
        if (beast::iequals(expect, "100-continue")) {
            auto goOn = std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
            http::async_write(stream_, *goOn, [self = shared(), goOn](beast::error_code error, std::size_t) {
                if (error) return self->close();
                self->readBody();
            });
            return;
        }
        readBody();
    }

    void readBody() {
        http::async_read(stream_, buffer_, *parser_, [self = shared()](beast::error_code error, std::size_t) {
            self->onBody(error);
        });
    }

    void onBody(beast::error_code error) {
        if (error) {
            if (error == http::error::body_limit) {
                return answerAndClose(errorResponse(413, "the body passes the limit of " +
                                                             std::to_string(route_->bodyLimit) + " bytes"));
            }
            if (error == beast::error::timeout) {
                logClosed("read timeout");
                return close();
            }
            if (error == http::error::end_of_stream || error == net::error::eof ||
                error == net::error::connection_reset || error == net::error::operation_aborted ||
                error == ssl::error::stream_truncated) {
                logClosed("closed by the client before the body was whole");
                return close();
            }
            return answerAndClose(errorResponse(400, "the request is not valid HTTP/1.1"));
        }
        auto message = parser_->release();
        keepAlive_ = message.keep_alive();
        auto request = std::make_shared<Request>();
        request->method = method_;
        request->path = path_;
        request->peer = peer_;
        request->authorization = std::string(message[http::field::authorization]);
        request->contentType = std::string(message[http::field::content_type]);
        request->contentEncoding = std::string(message[http::field::content_encoding]);
        request->cookie = std::string(message[http::field::cookie]);
        request->query = std::move(query_);
        request->secure = Tls;
        request->body = std::move(message.body());
        received_ = request->body.size();
        state_ = State::Working;
        beast::get_lowest_layer(stream_).expires_never();
        auto executor = beast::get_lowest_layer(stream_).get_executor();
        // The guard keeps the connection's executor (and the server) alive
        // while a worker runs the handler.
        net::post(workers_, [self = shared(), request, handler = &route_->handler,
                             guard = net::make_work_guard(executor)]() mutable {
            Response response;
            try {
                response = (*handler)(*request);
            } catch (const std::exception& e) {
                response = errorResponse(500, std::string("the server failed: ") + e.what());
            }
            request.reset();
            net::post(guard.get_executor(), [self, response = std::move(response)]() mutable {
                self->write(std::move(response), self->keepAlive_ && !self->shared_.stopping);
            });
        });
    }

    Response busy() {
        Response response = errorResponse(503, "the server has too many connections; try again later");
        response.retryAfterSeconds = kBusyRetryAfterSeconds;
        return response;
    }

    // A refusal is often answered before the request was read whole, and a
    // socket closed with unread data resets the connection: the reset can
    // overtake the answer, and a client still sending its body never reads
    // why it was refused. So what else comes is read and dropped for a short
    // while, bounded in time and bytes, before the connection closes.
    static constexpr auto kLingerTime = std::chrono::seconds(2);
    static constexpr std::size_t kLingerBytes = 16 * 1024 * 1024;

    void answerAndClose(Response response) {
        lingering_ = true;
        write(std::move(response), false);
    }

    void drainThenShutdown() {
        beast::get_lowest_layer(stream_).expires_after(kLingerTime);
        drainSome();
    }

    void drainSome() {
        stream_.async_read_some(net::buffer(scratch_), [self = shared()](beast::error_code error, std::size_t n) {
            self->drained_ += n;
            if (error || self->drained_ > kLingerBytes) return self->shutdown();
            self->drainSome();
        });
    }

    void write(Response response, bool keepAlive) {
        state_ = State::Writing;
        auto message = std::make_shared<http::response<http::string_body>>();
        message->version(11);
        message->result(response.status);
        message->reason(reasonText(response.status));
        message->set(http::field::content_type, response.contentType);
        message->set(http::field::cache_control, "no-store");
        // Nothing the server sends may be sniffed into another type, framed
        // by another site, or run script unless its own answer allows it.
        message->set("X-Content-Type-Options", "nosniff");
        bool policySet = false;
        for (const auto& [name, value] : response.headers) {
            if (beast::iequals(name, "Content-Security-Policy")) policySet = true;
            message->insert(name, value);
        }
        if (!policySet) message->set("Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'");
        if (response.retryAfterSeconds) message->set(http::field::retry_after, std::to_string(*response.retryAfterSeconds));
        message->keep_alive(keepAlive);
        message->body() = std::move(response.body);
        message->prepare_payload();
        ++requests_;
        const long long millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count();
        shared_.logLine(utcTimeWithMillis() + " " + peer_ + " " + loggable(method_) + " " + loggable(path_) + " " +
                        std::to_string(response.status) + " " + std::to_string(received_) + " " +
                        std::to_string(millis) + "ms host=" + (response.hostId.empty() ? "-" : response.hostId));
        received_ = 0;
        deadline();
        http::async_write(stream_, *message, [self = shared(), message, keepAlive](beast::error_code error, std::size_t) {
            if (!error && !keepAlive && self->lingering_) return self->drainThenShutdown();
            if (error || !keepAlive) return self->shutdown();
            self->readHeader();
        });
    }

    void logClosed(const std::string& why) {
        shared_.logLine(utcTimeWithMillis() + " " + peer_ + " " + (method_.empty() ? "-" : loggable(method_)) + " " +
                        (path_.empty() ? "-" : loggable(path_)) + " - " + std::to_string(buffer_.size()) +
                        " - closed: " + why);
    }

    void shutdown() {
        if constexpr (Tls) {
            if (state_ == State::Closed) return;
            state_ = State::Closed;
            beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(2));
            stream_.async_shutdown([self = shared()](beast::error_code) { self->closeSocket(); });
        } else {
            close();
        }
    }

    void close() {
        state_ = State::Closed;
        closeSocket();
    }

    void closeSocket() {
        beast::error_code ignored;
        auto& socket = beast::get_lowest_layer(stream_).socket();
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(stream_).close();
    }

    Stream stream_;
    Shared& shared_;
    Registry& registry_;
    net::thread_pool& workers_;
    const bool overCap_;
    std::string peer_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    State state_ = State::Handshake;
    const Route* route_ = nullptr;
    std::string method_, path_, query_;
    std::size_t received_ = 0;
    std::size_t requests_ = 0;
    bool keepAlive_ = false;
    bool lingering_ = false;
    std::size_t drained_ = 0;
    std::array<char, 16 * 1024> scratch_{};
    Clock::time_point started_ = Clock::now();
};

class BeastTransport final : public Transport {
public:
    BeastTransport(const TransportOptions& options, std::vector<Route> routes)
        : workers_(std::max(1u, options.workers)), acceptor_(io_), signals_(io_) {
        shared_.options = options;
        shared_.routes = std::move(routes);
    }

    ~BeastTransport() override {
        stop();
        wait();
    }

    Status open() {
        const auto& o = shared_.options;
        if (o.certificateFile) {
            tls_.emplace(ssl::context::tls_server);
            tls_->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                              ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
            SSL_CTX_set_min_proto_version(tls_->native_handle(), TLS1_2_VERSION);
            beast::error_code error;
            tls_->use_certificate_chain_file(*o.certificateFile, error);
            if (error) return Failure{2, "cannot use the certificate " + *o.certificateFile + ": " + error.message()};
            tls_->use_private_key_file(*o.keyFile, ssl::context::pem, error);
            if (error) return Failure{2, "cannot use the private key " + *o.keyFile + ": " + error.message()};
            if (SSL_CTX_check_private_key(tls_->native_handle()) != 1) {
                return Failure{2, "the private key " + *o.keyFile + " does not belong to the certificate"};
            }
        }
        beast::error_code error;
        auto address = net::ip::make_address(o.host, error);
        if (error) return Failure{2, "cannot listen on " + o.host + ": not an IP address"};
        tcp::endpoint endpoint(address, o.port);
        acceptor_.open(endpoint.protocol(), error);
        if (!error) acceptor_.set_option(net::socket_base::reuse_address(true), error);
        if (!error) acceptor_.bind(endpoint, error);
        if (!error) acceptor_.listen(net::socket_base::max_listen_connections, error);
        if (error) {
            return Failure{2, "cannot listen on " + o.host + ":" + std::to_string(o.port) + ": " + error.message()};
        }
        port_ = acceptor_.local_endpoint().port();
        if (o.stopOnSignals) {
            signals_.add(SIGTERM);
            signals_.add(SIGINT);
            signals_.async_wait([this](beast::error_code error, int) {
                if (!error) beginStop();
            });
        }
        accept();
        thread_ = std::thread([this]() { io_.run(); });
        return {};
    }

    unsigned short port() const override { return port_; }

    void stop() override {
        net::post(io_, [this]() { beginStop(); });
    }

    void wait() override {
        std::lock_guard<std::mutex> lock(waitMutex_);
        if (thread_.joinable()) thread_.join();
        workers_.join();
    }

private:
    void accept() {
        acceptor_.async_accept(net::make_strand(io_), [this](beast::error_code error, tcp::socket socket) {
            if (error) {
                if (!acceptor_.is_open()) return;
                // Out of descriptors and the like: keep serving those we have.
                return accept();
            }
            const std::size_t active = shared_.connections.load();
            const std::size_t cap = shared_.options.maxConnections;
            if (active >= cap * kHardCapFactor) {
                beast::error_code ignored;
                socket.close(ignored);
            } else {
                std::shared_ptr<SessionBase> session;
                if (tls_) {
                    session = std::make_shared<Session<true>>(std::move(socket), &*tls_, shared_, registry_, workers_,
                                                              active >= cap);
                } else {
                    session = std::make_shared<Session<false>>(std::move(socket), nullptr, shared_, registry_,
                                                               workers_, active >= cap);
                }
                session->start();
            }
            accept();
        });
    }

    void beginStop() {
        if (shared_.stopping.exchange(true)) return;
        beast::error_code ignored;
        acceptor_.close(ignored);
        signals_.cancel(ignored);
        for (auto& session : registry_.all()) session->stopIfIdle();
    }

    net::io_context io_{1};
    net::thread_pool workers_;
    tcp::acceptor acceptor_;
    net::signal_set signals_;
    std::optional<ssl::context> tls_;
    Shared shared_;
    Registry registry_;
    unsigned short port_ = 0;
    std::mutex waitMutex_;
    std::thread thread_;
};

}  // namespace

Response errorResponse(unsigned status, const std::string& reason) {
    Response response;
    response.status = status;
    response.body = nlohmann::json{{"error", reason}}.dump();
    return response;
}

Result<std::unique_ptr<Transport>> Transport::start(const TransportOptions& options, std::vector<Route> routes) {
    if (options.certificateFile.has_value() != options.keyFile.has_value()) {
        return Failure{2, "a certificate needs its private key, and a key its certificate"};
    }
    auto transport = std::make_unique<BeastTransport>(options, std::move(routes));
    if (Status status = transport->open(); !status.ok()) return status.failure;
    return std::unique_ptr<Transport>(std::move(transport));
}

}  // namespace veltrix::server
