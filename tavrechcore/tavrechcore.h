/* tavrechcore: the mouse hooks of the Tavrec recorder on X11.
 *
 * The pick hook reports the top-level window under the pointer while the user
 * chooses the window to record; the draw hook takes the pointer over the whole
 * screen, except the program's own tool window, while the user draws. Both report
 * by posting ClientMessages of type "TAVREC_MESSAGE" (format 32, data.l[0] = message
 * number, l[1] = wParam, l[2] = lParam) to the program's window, in the order the
 * pointer events happened. Window handles are X11 window ids.
 *
 * The functions may be called from any thread; calls are serialised. Each hook runs
 * its own X connection and its own thread, from enable until disable (or until the
 * library is unloaded). */
#ifndef TAVRECHCORE_H
#define TAVRECHCORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HM_MOVE 0x8001
#define HM_PRESS 0x8002
#define HM_RELEASE 0x8003
#define HM_MENU 0x8004
#define HM_RELEASE_ACK 0x8005
#define HM_EXTRA 0x8006

/* Pick hook. enable != 0: grabs the pointer with a crosshair cursor and posts to
 * window, for every pointer motion, moveMessage with wParam = the child of the root
 * under the pointer (a managed window's frame; 0 over the bare root) and lParam =
 * (y << 16) | x in root coordinates; a left press posts pressMessage (same
 * parameters), a right press menuMessage. Returns 0 when the pointer cannot be
 * grabbed within a short time (another client holds it) or there is no X display.
 * Enabling while on re-targets the messages. enable == 0: ungrabs, stops the
 * hook's thread and returns 1 (also when the hook was off). */
int SetMouseFilterHook(int enable, uint32_t window, uint32_t moveMessage, uint32_t pressMessage,
                       uint32_t menuMessage);

/* Draw hook. enable != 0: covers the screen with an input-only window whose input
 * leaves out the top-level frame holding window (the tool window stays usable), and
 * posts to window: a left press pressMessage (wParam = the hook's own window, which
 * takes ackMessage; lParam = (y << 16) | x), every motion while the left button is
 * down moveMessage (wParam = x, lParam = y), the left release releaseMessage
 * (wParam = x, lParam = y), a right press menuMessage (wParam = x, lParam = y); all
 * in root coordinates. drawing == 0 keeps the hook set up with its window unmapped.
 * Enabling while on re-targets. owner and extraMessage are not used. enable == 0
 * destroys the window and stops the thread. Returns 1 on success, 0 when the hook
 * could not be set up. */
int SetDrawHook(int enable, uint32_t window, uint32_t owner, uint32_t moveMessage, uint32_t pressMessage,
                uint32_t extraMessage, uint32_t menuMessage, uint32_t ackMessage, uint32_t releaseMessage,
                uint8_t drawing);

/* Drawing tool of the draw hook: 0 pen, 1 eraser. Kept across hook sessions and
 * shown by the hook window's pointer shape (a pencil or a circle). Returns 0 for any
 * other mode, which is ignored. */
int SetDrawMode(int mode);

/* The same three functions under their names with a leading underscore. */
int _SetMouseFilterHook(int enable, uint32_t window, uint32_t moveMessage, uint32_t pressMessage,
                        uint32_t menuMessage);
int _SetDrawHook(int enable, uint32_t window, uint32_t owner, uint32_t moveMessage, uint32_t pressMessage,
                 uint32_t extraMessage, uint32_t menuMessage, uint32_t ackMessage, uint32_t releaseMessage,
                 uint8_t drawing);
int _SetDrawMode(int mode);

#ifdef __cplusplus
}
#endif

#endif /* TAVRECHCORE_H */
