/* Stubs for the Kerberos (GSSAPI) and LDAP calls in libpq's archive, for the
 * static program: Debian has no archives of those libraries. Every call
 * fails, so libpq never offers GSSAPI encryption or login, and an LDAP
 * service lookup fails; passwords, trust, peer and TLS work as ever. */
#include <stddef.h>

typedef unsigned int OM_uint32;
#define GSS_UNAVAILABLE 0xD0000u /* GSS_S_FAILURE */

void* GSS_C_NT_HOSTBASED_SERVICE = NULL;

#define GSS_STUB(name) \
  OM_uint32 name(void) { return GSS_UNAVAILABLE; }
GSS_STUB(gss_acquire_cred)
GSS_STUB(gss_delete_sec_context)
GSS_STUB(gss_display_status)
GSS_STUB(gss_import_name)
GSS_STUB(gss_init_sec_context)
GSS_STUB(gss_release_buffer)
GSS_STUB(gss_release_cred)
GSS_STUB(gss_release_name)
GSS_STUB(gss_unwrap)
GSS_STUB(gss_wrap)
GSS_STUB(gss_wrap_size_limit)

#define LDAP_STUB(name) \
  int name(void) { return -1; }
LDAP_STUB(ldap_count_entries)
LDAP_STUB(ldap_first_entry)
LDAP_STUB(ldap_get_values_len)
LDAP_STUB(ldap_msgfree)
LDAP_STUB(ldap_result)
LDAP_STUB(ldap_search_st)
LDAP_STUB(ldap_set_option)
LDAP_STUB(ldap_simple_bind)
LDAP_STUB(ldap_unbind)
LDAP_STUB(ldap_value_free_len)
void* ldap_init(void) { return NULL; }
char* ldap_err2string(int error) {
  (void)error;
  return "LDAP is not available";
}
