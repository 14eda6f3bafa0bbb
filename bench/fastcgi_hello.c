/* The floor for the resident mode: the least a FastCGI application can do,
 * libfcgi's accept loop answering every request with a tiny page. */
#include <fcgiapp.h>

int main(void) {
  static const char page[] =
      "Content-type: text/html\n\n\r\n<html><head><title>Hello</title></head><body>Hello</body></html>\r\n";
  FCGX_Request request;
  if (FCGX_Init() != 0 || FCGX_InitRequest(&request, 0, 0) != 0) return 1;
  while (FCGX_Accept_r(&request) >= 0) {
    FCGX_PutStr(page, sizeof page - 1, request.out);
    FCGX_Finish_r(&request);
  }
  return 0;
}
