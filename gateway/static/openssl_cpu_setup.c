/* OpenSSL's archive runs OPENSSL_cpuid_setup at every process start (from
 * the .init section of its x86_64cpuid object), which asks the CPU for its
 * features with about ten CPUID instructions. In a virtual machine each one
 * traps to the hypervisor (about 5 us here), which made every CGI request
 * 40 us slower, SQLite sites included, although only a PostgreSQL
 * connection uses OpenSSL. This definition takes the place of OpenSSL's own
 * (whose object is then never linked) and does nothing at start-up; the
 * PostgreSQL store calls QbSetUpOpenSslCpu before it connects, which does
 * what OpenSSL's setup does (without its OPENSSL_ia32cap override). Linked
 * into the static build only: elsewhere OpenSSL is a shared library that
 * sets itself up. */

/* OpenSSL's CPU feature words, and its probe, which fills words 2 and 3 and
 * returns words 0 and 1. */
extern unsigned int OPENSSL_ia32cap_P[4];
unsigned long long OPENSSL_ia32_cpuid(unsigned int *words);

void OPENSSL_cpuid_setup(void) {}

void QbSetUpOpenSslCpu(void) {
  if (OPENSSL_ia32cap_P[0] & (1u << 10)) return; /* done already */
  const unsigned long long features = OPENSSL_ia32_cpuid(OPENSSL_ia32cap_P);
  /* Bit 10 is reserved by the CPU; OpenSSL sets it to mean "probed". */
  OPENSSL_ia32cap_P[0] = (unsigned int)features | (1u << 10);
  OPENSSL_ia32cap_P[1] = (unsigned int)(features >> 32);
}
