/* OpenSSL's archive runs OPENSSL_cpuid_setup at every process start (from
 * the .init section of its x86_64cpuid object), which asks the CPU for its
 * features with about ten CPUID instructions. In a virtual machine each one
 * traps to the hypervisor (about 5 us here), which made every CGI request
 * 40 us slower, SQLite sites included, although only a PostgreSQL
 * connection uses OpenSSL. This definition takes the place of OpenSSL's own
 * and does nothing at start-up (OpenSSL's object holds nothing else, so it
 * is then never linked; were it linked anyway, the link would fail on the
 * name defined twice). The PostgreSQL store calls QbSetUpOpenSslCpu before
 * it connects, which does what OpenSSL's setup does (without its
 * OPENSSL_ia32cap override). Linked into the static build only: elsewhere
 * OpenSSL is a shared library that sets itself up. */

#include <openssl/opensslv.h>

/* What follows mirrors OpenSSL 3.0's private setup for x86-64 (crypto/cpuid.c
 * and the x86_64cpuid object): four feature words, the probe's signature, and
 * OPENSSL_cpuid_setup alone in its object. CMake links this file only there;
 * elsewhere it must not build. */
#if !defined(__x86_64__) || !defined(OPENSSL_VERSION_MAJOR) || OPENSSL_VERSION_MAJOR != 3 || OPENSSL_VERSION_MINOR != 0
#error "openssl_cpu_setup.c mirrors OpenSSL 3.0 on x86-64; link OpenSSL's own CPU setup instead"
#endif

/* OpenSSL's CPU feature words, and its probe, which fills words 2 and 3 and
 * returns words 0 and 1. */
extern unsigned int OPENSSL_ia32cap_P[4];
unsigned long long OPENSSL_ia32_cpuid(unsigned int* words);

void OPENSSL_cpuid_setup(void) {}

void QbSetUpOpenSslCpu(void) {
  if (OPENSSL_ia32cap_P[0] & (1u << 10)) return; /* done already */
  const unsigned long long features = OPENSSL_ia32_cpuid(OPENSSL_ia32cap_P);
  /* Bit 10 is reserved by the CPU; OpenSSL sets it to mean "probed". */
  OPENSSL_ia32cap_P[0] = (unsigned int)features | (1u << 10);
  OPENSSL_ia32cap_P[1] = (unsigned int)(features >> 32);
}
