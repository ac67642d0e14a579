#include "platform/portal/PortalScreenCast.h"

#include <dbus/dbus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr const char* kRequest = "org.freedesktop.portal.Request";
constexpr const char* kSession = "org.freedesktop.portal.Session";

constexpr uint32_t kCursorHidden = 1, kCursorEmbedded = 2, kCursorMetadata = 4;
constexpr uint32_t kPersistUntilRevoked = 2;

struct MessageUnref {
    void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

struct ConnectionClose {
    void operator()(DBusConnection* c) const
    {
        dbus_connection_close(c);
        dbus_connection_unref(c);
    }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionClose>;

class Error {
public:
    Error() { dbus_error_init(&error_); }
    ~Error() { dbus_error_free(&error_); }
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    DBusError* operator&() { return &error_; }
    bool IsSet() const { return dbus_error_is_set(&error_); }
    bool Is(const char* name) const { return dbus_error_has_name(&error_, name); }
    std::string Text() const
    {
        return std::string(error_.name ? error_.name : "") + (error_.message ? std::string(": ") + error_.message : "");
    }

private:
    DBusError error_;
};

// Writes an a{sv} of options.
class OptionsWriter {
public:
    explicit OptionsWriter(DBusMessageIter* parent)
    {
        dbus_message_iter_open_container(parent, DBUS_TYPE_ARRAY, "{sv}", &array_);
        parent_ = parent;
    }
    void Add(const char* key, uint32_t value) { Entry(key, DBUS_TYPE_UINT32, DBUS_TYPE_UINT32_AS_STRING, &value); }
    void Add(const char* key, bool value)
    {
        dbus_bool_t b = value;
        Entry(key, DBUS_TYPE_BOOLEAN, DBUS_TYPE_BOOLEAN_AS_STRING, &b);
    }
    void Add(const char* key, const std::string& value)
    {
        const char* s = value.c_str();
        Entry(key, DBUS_TYPE_STRING, DBUS_TYPE_STRING_AS_STRING, &s);
    }
    void Close() { dbus_message_iter_close_container(parent_, &array_); }

private:
    void Entry(const char* key, int type, const char* signature, const void* value)
    {
        DBusMessageIter entry, variant;
        dbus_message_iter_open_container(&array_, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
        dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
        dbus_message_iter_append_basic(&variant, type, value);
        dbus_message_iter_close_container(&entry, &variant);
        dbus_message_iter_close_container(&array_, &entry);
    }

    DBusMessageIter* parent_;
    DBusMessageIter array_;
};

// Calls fn(key, variant iterator) for every entry of the a{sv} at it.
template <typename Fn>
void ForEachOption(DBusMessageIter* it, Fn fn)
{
    if (dbus_message_iter_get_arg_type(it) != DBUS_TYPE_ARRAY)
        return;
    DBusMessageIter array;
    dbus_message_iter_recurse(it, &array);
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_DICT_ENTRY) {
        DBusMessageIter entry, variant;
        dbus_message_iter_recurse(&array, &entry);
        const char* key = nullptr;
        if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_STRING) {
            dbus_message_iter_get_basic(&entry, &key);
            dbus_message_iter_next(&entry);
            if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_VARIANT) {
                dbus_message_iter_recurse(&entry, &variant);
                fn(std::string(key), &variant);
            }
        }
        dbus_message_iter_next(&array);
    }
}

bool ReadUint(DBusMessageIter* it, uint32_t* value)
{
    if (dbus_message_iter_get_arg_type(it) != DBUS_TYPE_UINT32)
        return false;
    dbus_message_iter_get_basic(it, value);
    return true;
}

// A string or object path.
bool ReadText(DBusMessageIter* it, std::string* value)
{
    const int type = dbus_message_iter_get_arg_type(it);
    if (type != DBUS_TYPE_STRING && type != DBUS_TYPE_OBJECT_PATH)
        return false;
    const char* s = nullptr;
    dbus_message_iter_get_basic(it, &s);
    *value = s ? s : "";
    return true;
}

// The (ii) pair of a stream's size or position.
bool ReadPair(DBusMessageIter* it, int* a, int* b)
{
    if (dbus_message_iter_get_arg_type(it) != DBUS_TYPE_STRUCT)
        return false;
    DBusMessageIter pair;
    dbus_message_iter_recurse(it, &pair);
    int32_t x = 0, y = 0;
    if (dbus_message_iter_get_arg_type(&pair) != DBUS_TYPE_INT32)
        return false;
    dbus_message_iter_get_basic(&pair, &x);
    dbus_message_iter_next(&pair);
    if (dbus_message_iter_get_arg_type(&pair) != DBUS_TYPE_INT32)
        return false;
    dbus_message_iter_get_basic(&pair, &y);
    *a = x;
    *b = y;
    return true;
}

int MsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

struct PortalScreenCast::Impl {
    Connection bus;
    std::string sender;  // the unique name with '.' as '_' and no ':', as request paths have it
    std::string session;
    uint32_t version = 0;
    uint32_t cursorModes = 0;
    uint32_t sourceTypes = 0;
    bool cursorEmbedded = false;
    bool cursorMetadata = false;
    uint32_t node = 0;
    int width = 0, height = 0;
    std::string restoreToken;
    bool closed = false;

    bool Connect(std::string* error);
    bool ReadProperties(std::string* error);
    // Calls method with the arguments `append` writes, whose last one is an options
    // a{sv} that gets handle_token; waits for the Request's Response and hands its
    // results to `results`. False with *error on failure.
    template <typename Append, typename Results>
    bool CallWithResponse(const char* method, int timeoutMs, Append append, Results results, std::string* error);
    void NoteClosed(DBusMessage* message);
};

bool PortalScreenCast::Impl::Connect(std::string* error)
{
    dbus_threads_init_default();
    Error e;
    // The address is read each time (libdbus would keep the first one it saw).
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) {
        bus.reset(dbus_connection_open_private(address, &e));
        if (bus && !dbus_bus_register(bus.get(), &e))
            bus.reset();
    } else {
        bus.reset(dbus_bus_get_private(DBUS_BUS_SESSION, &e));
    }
    if (!bus) {
        *error = "cannot connect to the session bus (" + e.Text() + ")";
        return false;
    }
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    std::string name = dbus_bus_get_unique_name(bus.get());
    if (!name.empty() && name[0] == ':')
        name.erase(0, 1);
    for (char& c : name) {
        if (c == '.')
            c = '_';
    }
    sender = name;
    return true;
}

bool PortalScreenCast::Impl::ReadProperties(std::string* error)
{
    Message call(dbus_message_new_method_call(kPortalName, kPortalPath, "org.freedesktop.DBus.Properties", "GetAll"));
    const char* iface = kScreenCast;
    dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &iface, DBUS_TYPE_INVALID);
    Error e;
    Message reply(dbus_connection_send_with_reply_and_block(bus.get(), call.get(), 10000, &e));
    if (!reply) {
        if (e.Is(DBUS_ERROR_SERVICE_UNKNOWN) || e.Is(DBUS_ERROR_NAME_HAS_NO_OWNER))
            *error = std::string("no desktop portal on the session bus (nothing provides ") + kPortalName + ")";
        else
            *error = "the desktop portal does not answer (" + e.Text() + ")";
        return false;
    }
    DBusMessageIter it;
    dbus_message_iter_init(reply.get(), &it);
    ForEachOption(&it, [&](const std::string& key, DBusMessageIter* value) {
        if (key == "version")
            ReadUint(value, &version);
        else if (key == "AvailableCursorModes")
            ReadUint(value, &cursorModes);
        else if (key == "AvailableSourceTypes")
            ReadUint(value, &sourceTypes);
    });
    if (version == 0) {
        *error = "the desktop portal has no screen-cast interface";
        return false;
    }
    return true;
}

void PortalScreenCast::Impl::NoteClosed(DBusMessage* message)
{
    if (dbus_message_is_signal(message, kSession, "Closed") && !session.empty() &&
        session == (dbus_message_get_path(message) ? dbus_message_get_path(message) : ""))
        closed = true;
    if (dbus_message_is_signal(message, DBUS_INTERFACE_LOCAL, "Disconnected"))
        closed = true;
}

template <typename Append, typename Results>
bool PortalScreenCast::Impl::CallWithResponse(const char* method, int timeoutMs, Append append, Results results,
                                              std::string* error)
{
    static std::atomic<unsigned> counter{0};
    const std::string token = "tavrec" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    const std::string path = std::string(kPortalPath) + "/request/" + sender + "/" + token;
    // The match comes first: the Response may follow the method's reply at once.
    const std::string rule = std::string("type='signal',interface='") + kRequest +
                             "',member='Response',path='" + path + "'";
    Error e;
    dbus_bus_add_match(bus.get(), rule.c_str(), &e);
    if (e.IsSet()) {
        *error = std::string(method) + ": cannot watch for the portal's answer (" + e.Text() + ")";
        return false;
    }
    struct RemoveMatch {
        DBusConnection* bus;
        const std::string& rule;
        ~RemoveMatch() { dbus_bus_remove_match(bus, rule.c_str(), nullptr); }
    } removeMatch{bus.get(), rule};

    Message call(dbus_message_new_method_call(kPortalName, kPortalPath, kScreenCast, method));
    DBusMessageIter it;
    dbus_message_iter_init_append(call.get(), &it);
    OptionsWriter options = append(&it);
    options.Add("handle_token", token);
    options.Close();

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Message reply(dbus_connection_send_with_reply_and_block(bus.get(), call.get(), 10000, &e));
    if (!reply) {
        *error = std::string(method) + " failed (" + e.Text() + ")";
        return false;
    }
    std::string handle;
    DBusMessageIter replyIt;
    if (!dbus_message_iter_init(reply.get(), &replyIt) || !ReadText(&replyIt, &handle)) {
        *error = std::string(method) + " gave no request handle";
        return false;
    }
    for (;;) {
        while (Message m{dbus_connection_pop_message(bus.get())}) {
            NoteClosed(m.get());
            const char* at = dbus_message_get_path(m.get());
            if (!dbus_message_is_signal(m.get(), kRequest, "Response") || !at || handle != at)
                continue;
            DBusMessageIter args;
            uint32_t code = 2;
            if (!dbus_message_iter_init(m.get(), &args) || !ReadUint(&args, &code)) {
                *error = std::string(method) + ": the portal's answer is malformed";
                return false;
            }
            if (code == 1) {
                *error = "the screen cast was cancelled";
                return false;
            }
            if (code != 0) {
                *error = "the portal refused the screen cast (" + std::string(method) + " answered " +
                         std::to_string(code) + ")";
                return false;
            }
            dbus_message_iter_next(&args);
            return results(&args, error);
        }
        const int left = MsLeft(deadline);
        if (left == 0) {
            *error = std::string(method) + ": the portal did not answer within " +
                     std::to_string(timeoutMs / 1000) + " s";
            return false;
        }
        if (!dbus_connection_read_write(bus.get(), left)) {
            *error = std::string(method) + ": the session bus connection was lost";
            return false;
        }
    }
}

uint32_t PortalScreenCast::AvailableSourceTypes(std::string* error)
{
    std::string ignored;
    Impl s;
    if (!s.Connect(error ? error : &ignored) || !s.ReadProperties(error ? error : &ignored))
        return 0;
    return s.sourceTypes;
}

std::unique_ptr<PortalScreenCast> PortalScreenCast::Start(const ScreenCastRequest& request, std::string* error)
{
    std::string ignored;
    std::string& err = error ? *error : ignored;
    auto s = std::make_unique<Impl>();
    if (!s->Connect(&err) || !s->ReadProperties(&err))
        return nullptr;

    const std::string sessionToken = "tavrec" + std::to_string(getpid());
    const bool created = s->CallWithResponse(
        "CreateSession", request.callTimeoutMs,
        [&](DBusMessageIter* it) {
            OptionsWriter options(it);
            options.Add("session_handle_token", sessionToken);
            return options;
        },
        [&](DBusMessageIter* results, std::string* e) {
            ForEachOption(results, [&](const std::string& key, DBusMessageIter* value) {
                if (key == "session_handle")
                    ReadText(value, &s->session);  // a string, though it names an object
            });
            if (s->session.empty())
                *e = "CreateSession gave no session";
            return !s->session.empty();
        },
        &err);
    if (!created)
        return nullptr;
    const std::string closedRule =
        std::string("type='signal',interface='") + kSession + "',member='Closed',path='" + s->session + "'";
    dbus_bus_add_match(s->bus.get(), closedRule.c_str(), nullptr);

    // What the portal offers decides what is asked for: an unoffered cursor mode is
    // refused outright. A cursor drawn into the frames is preferred; without it the
    // stream's buffers can carry the cursor beside the picture, for us to draw.
    uint32_t cursorMode = 0;
    if (request.embedCursor && (s->cursorModes & kCursorEmbedded))
        cursorMode = kCursorEmbedded;
    else if (request.embedCursor && (s->cursorModes & kCursorMetadata))
        cursorMode = kCursorMetadata;
    else if (s->cursorModes & kCursorHidden)
        cursorMode = kCursorHidden;
    uint32_t types = request.sourceTypes & s->sourceTypes;
    if (types == 0)
        types = s->sourceTypes & 1u ? 1u : s->sourceTypes;
    const char* session = s->session.c_str();
    const bool selected = s->CallWithResponse(
        "SelectSources", request.callTimeoutMs,
        [&](DBusMessageIter* it) {
            dbus_message_iter_append_basic(it, DBUS_TYPE_OBJECT_PATH, &session);
            OptionsWriter options(it);
            if (types)
                options.Add("types", types);
            options.Add("multiple", false);
            if (cursorMode)
                options.Add("cursor_mode", cursorMode);
            // Persistence came with version 4 of the interface.
            if (request.persist && s->version >= 4) {
                options.Add("persist_mode", kPersistUntilRevoked);
                if (!request.restoreToken.empty())
                    options.Add("restore_token", request.restoreToken);
            }
            return options;
        },
        [](DBusMessageIter*, std::string*) { return true; }, &err);
    if (!selected)
        return nullptr;
    s->cursorEmbedded = cursorMode == kCursorEmbedded;
    s->cursorMetadata = cursorMode == kCursorMetadata;

    const bool started = s->CallWithResponse(
        "Start", request.startTimeoutMs,
        [&](DBusMessageIter* it) {
            const char* parent = "";
            dbus_message_iter_append_basic(it, DBUS_TYPE_OBJECT_PATH, &session);
            dbus_message_iter_append_basic(it, DBUS_TYPE_STRING, &parent);
            return OptionsWriter(it);
        },
        [&](DBusMessageIter* results, std::string* e) {
            bool haveStream = false;
            ForEachOption(results, [&](const std::string& key, DBusMessageIter* value) {
                if (key == "restore_token") {
                    ReadText(value, &s->restoreToken);
                } else if (key == "streams" && dbus_message_iter_get_arg_type(value) == DBUS_TYPE_ARRAY) {
                    DBusMessageIter streams, stream;
                    dbus_message_iter_recurse(value, &streams);
                    if (dbus_message_iter_get_arg_type(&streams) != DBUS_TYPE_STRUCT)
                        return;
                    dbus_message_iter_recurse(&streams, &stream);
                    haveStream = ReadUint(&stream, &s->node);
                    dbus_message_iter_next(&stream);
                    ForEachOption(&stream, [&](const std::string& prop, DBusMessageIter* v) {
                        if (prop == "size")
                            ReadPair(v, &s->width, &s->height);
                    });
                }
            });
            if (!haveStream)
                *e = "the portal started the screen cast without a stream";
            return haveStream;
        },
        &err);
    if (!started)
        return nullptr;
    return std::unique_ptr<PortalScreenCast>(new PortalScreenCast(std::move(s)));
}

PortalScreenCast::PortalScreenCast(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PortalScreenCast::~PortalScreenCast()
{
    if (!impl_->closed && !impl_->session.empty()) {
        Message call(dbus_message_new_method_call(kPortalName, impl_->session.c_str(), kSession, "Close"));
        dbus_message_set_no_reply(call.get(), TRUE);
        dbus_connection_send(impl_->bus.get(), call.get(), nullptr);
        dbus_connection_flush(impl_->bus.get());
    }
}

uint32_t PortalScreenCast::Node() const { return impl_->node; }
int PortalScreenCast::Width() const { return impl_->width; }
int PortalScreenCast::Height() const { return impl_->height; }
uint32_t PortalScreenCast::Version() const { return impl_->version; }
bool PortalScreenCast::CursorEmbedded() const { return impl_->cursorEmbedded; }
bool PortalScreenCast::CursorMetadata() const { return impl_->cursorMetadata; }
const std::string& PortalScreenCast::RestoreToken() const { return impl_->restoreToken; }

UniqueFd PortalScreenCast::OpenPipeWireRemote(std::string* error)
{
    Message call(dbus_message_new_method_call(kPortalName, kPortalPath, kScreenCast, "OpenPipeWireRemote"));
    DBusMessageIter it;
    dbus_message_iter_init_append(call.get(), &it);
    const char* session = impl_->session.c_str();
    dbus_message_iter_append_basic(&it, DBUS_TYPE_OBJECT_PATH, &session);
    OptionsWriter(&it).Close();
    Error e;
    Message reply(dbus_connection_send_with_reply_and_block(impl_->bus.get(), call.get(), 10000, &e));
    int fd = -1;
    if (!reply || !dbus_message_get_args(reply.get(), &e, DBUS_TYPE_UNIX_FD, &fd, DBUS_TYPE_INVALID)) {
        if (error)
            *error = "OpenPipeWireRemote failed (" + e.Text() + ")";
        return UniqueFd();
    }
    return UniqueFd(fd);
}

bool PortalScreenCast::Active()
{
    if (impl_->closed)
        return false;
    if (!dbus_connection_read_write(impl_->bus.get(), 0)) {
        impl_->closed = true;
        return false;
    }
    while (Message m{dbus_connection_pop_message(impl_->bus.get())})
        impl_->NoteClosed(m.get());
    return !impl_->closed;
}

}  // namespace platform
