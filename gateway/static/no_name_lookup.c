/* Linked into the static build of qbcgi only, with the linker told to send
 * gethostbyname here (--wrap). The FastCGI library calls it only to listen on
 * a host name it was given, which this program never asks of it: it serves
 * the socket its process manager hands it. A static binary could not look
 * names up safely anyway (the C library's resolver loads shared objects). */
#include <netdb.h>
#include <stddef.h>

struct hostent *__wrap_gethostbyname(const char *name) {
  (void)name;
  h_errno = HOST_NOT_FOUND;
  return NULL;
}
