/* Linked into the shipped programs only: keeps MinGW-w64's TLS support (tlssup.o in
 * libmingw32.a) out of them, and with it the TLS directory and its two callbacks, which the
 * loader would run before the entry point and on every thread start and exit.
 *
 * Nothing here needs them. GCC's MinGW targets emulate thread-local variables (emutls
 * through pthread keys), so no object carries a .tls section for the loader to set up, and
 * the callbacks' work (dynamic initialisers of such sections, and the per-thread destructors
 * of mingw's own key list at thread exit) has nothing to do in a program whose threads end
 * through winpthreads' own exit path. The start-up code pulls tlssup.o in only through the
 * symbols below; defining them here satisfies it first. Should another object need the real
 * ones, the link fails on a duplicate symbol instead of silently mixing the two. */
#include <windows.h>

const PIMAGE_TLS_CALLBACK __dyn_tls_init_callback = NULL;

/* The start-up code sets these to force tlssup.o into the link. */
int __mingw_initltsdrot_force = 0;
int __mingw_initltsdyn_force = 0;
int __mingw_initltssuo_force = 0;
