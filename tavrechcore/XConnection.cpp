#include "tavrechcore/XConnection.h"

#include <cstring>
#include <string>

namespace hookcore {

namespace {

constexpr const char* kMessageAtomName = "TAVREC_MESSAGE";

}  // namespace

std::unique_ptr<XConnection> XConnection::Open()
{
    int screenNumber = 0;
    xcb_connection_t* conn = xcb_connect(nullptr, &screenNumber);
    if (const int code = xcb_connection_has_error(conn)) {
        const char* name = std::getenv("DISPLAY");
        ReportProblem(std::string("cannot open the X display \"") + (name ? name : "") + "\" (xcb error " +
                      std::to_string(code) + ")");
        xcb_disconnect(conn);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        ReportProblem("the X display has no screen " + std::to_string(screenNumber));
        xcb_disconnect(conn);
        return nullptr;
    }
    std::unique_ptr<XConnection> x(new XConnection(conn, it.data));
    auto atom = x->Ask(xcb_intern_atom(conn, 0, std::strlen(kMessageAtomName), kMessageAtomName),
                       xcb_intern_atom_reply, "InternAtom TAVREC_MESSAGE");
    if (!atom)
        return nullptr;
    x->messageAtom_ = atom->atom;
    return x;
}

XConnection::XConnection(xcb_connection_t* conn, xcb_screen_t* screen) : conn_(conn), screen_(screen) {}

XConnection::~XConnection()
{
    xcb_disconnect(conn_);
}

bool XConnection::Check(xcb_void_cookie_t cookie, const char* what)
{
    if (xcb_generic_error_t* error = xcb_request_check(conn_, cookie)) {
        ReportXError(what, *error);
        std::free(error);
        return false;
    }
    if (Broken()) {
        ReportBroken(what);
        return false;
    }
    return true;
}

bool XConnection::Sync()
{
    return Ask(xcb_get_input_focus(conn_), xcb_get_input_focus_reply, "GetInputFocus") != nullptr;
}

void XConnection::ReportBroken(const char* what)
{
    ReportProblem(std::string(what) + ": the X connection is broken (xcb error " +
                  std::to_string(xcb_connection_has_error(conn_)) + ")");
}

}  // namespace hookcore
