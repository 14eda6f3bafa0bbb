/* The floor for pages that read no ads: the least a CGI program can do,
 * a static binary that writes a tiny page in one write and exits. */
#include <unistd.h>

int main(void) {
  static const char page[] =
      "Content-type: text/html\n\n\r\n<html><head><title>Hello</title></head><body>Hello</body></html>\r\n";
  ssize_t n = write(1, page, sizeof page - 1);
  return n == (ssize_t)(sizeof page - 1) ? 0 : 1;
}
