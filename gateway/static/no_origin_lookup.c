/* Linked into the static build of qbcgi only. At every start, the C
 * library's set-up of a static program asks the kernel for the path of its
 * own executable (readlink of /proc/self/exe, in _dl_get_origin), only to
 * expand $ORIGIN in the search paths of shared objects it might load later.
 * That one system call cost some 40 us of a CGI request here (perf trace;
 * bench/levers.md), about as much as everything else the main page does
 * after main. This program loads no shared objects of its own (the dynamic
 * loader's functions go to no_dynamic_loading.c), and a path with $ORIGIN
 * means nothing to it: the program finds its site from the path it was
 * started by (gateway/program_location.cpp).
 *
 * This definition takes the place of the C library's (its object in libc.a
 * holds nothing else, so that object is then not linked; were it linked
 * anyway, the link would fail on the name defined twice) and reports the
 * origin unknown, which is what the C library's own answers when the
 * readlink fails: a search path element naming $ORIGIN is then left out. */
#include <features.h>

#if !defined(__GLIBC__) || __GLIBC__ != 2 || __GLIBC_MINOR__ < 26
#error "no_origin_lookup.c stands in for glibc 2.26 or later's _dl_get_origin; drop it from the link elsewhere"
#endif

const char* _dl_get_origin(void) { return (const char*)-1; }
