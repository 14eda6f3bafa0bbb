/* Linked into the static build of qbcgi only, with the linker told to send
 * gethostbyname here (--wrap). The FastCGI library calls it only to listen on
 * a host name it was given, which this program never asks of it: it serves
 * the socket its process manager hands it; OpenSSL only in its deprecated
 * BIO_gethostbyname, which nothing here calls. So that path is left out.
 * The program does look names up for libpq, which resolves a PostgreSQL
 * host name with getaddrinfo (and the user it runs as with getpwuid_r). In
 * this static program the C library reads /etc/nsswitch.conf, and itself
 * reads /etc/hosts (and /etc/passwd) and asks the servers in
 * /etc/resolv.conf; any other source nsswitch.conf lists (mdns4_minimal,
 * systemd) it loads as a shared object together with the system's
 * libc.so.6, which works only while that is the C library this program was
 * linked with. A host given as an address or found in /etc/hosts, and a
 * user found in /etc/passwd, need no shared object where "files" comes
 * first (as in Debian's nsswitch.conf). */
#include <netdb.h>
#include <stddef.h>

struct hostent* __wrap_gethostbyname(const char* name) {
  (void)name;
  h_errno = HOST_NOT_FOUND;
  return NULL;
}
