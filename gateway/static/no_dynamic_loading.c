/* Linked into the static build of qbcgi only, with the linker told to send
 * the dynamic loader's four functions here (--wrap). SQLite refers to them
 * for sqlite3_load_extension, which this program never calls; OpenSSL, to
 * load the engine and provider modules its configuration file may name
 * (/usr/lib/ssl/openssl.cnf or $OPENSSL_CONF, read at the first PostgreSQL
 * connection; Debian's names none), which in this program fail to load,
 * leaving OpenSSL's built-in providers. A static binary could not load
 * shared objects safely anyway: the C library's dlopen would need the C
 * library's shared objects at run time. These load nothing. */
#include <stddef.h>

void* __wrap_dlopen(const char* file, int mode) {
  (void)file;
  (void)mode;
  return NULL;
}

void* __wrap_dlsym(void* handle, const char* name) {
  (void)handle;
  (void)name;
  return NULL;
}

int __wrap_dlclose(void* handle) {
  (void)handle;
  return 0;
}

char* __wrap_dlerror(void) {
  static char message[] = "this program loads no shared objects";
  return message;
}
