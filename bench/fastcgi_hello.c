/* The floor for the resident mode: the least a FastCGI application can do,
 * libfcgi's accept loop answering every request with a tiny page; or, with
 * QB_HELLO_PAGE naming a file, with that file's bytes, read once at start
 * (the floor for a page of that size: no store, no page building). */
#include <fcgiapp.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  static const char hello[] =
      "Content-type: text/html\n\n\r\n<html><head><title>Hello</title></head><body>Hello</body></html>\r\n";
  static char page[1 << 20];
  int size = 0;
  const char* path = getenv("QB_HELLO_PAGE");
  if (path != NULL) {
    static const char header[] = "Content-type: text/html\n\n";
    FILE* file = fopen(path, "rb");
    if (file == NULL) return 1;
    size = snprintf(page, sizeof page, "%s", header);
    size += (int)fread(page + size, 1, sizeof page - (size_t)size, file);
    fclose(file);
  }
  FCGX_Request request;
  if (FCGX_Init() != 0 || FCGX_InitRequest(&request, 0, 0) != 0) return 1;
  while (FCGX_Accept_r(&request) >= 0) {
    if (path != NULL) {
      FCGX_PutStr(page, size, request.out);
    } else {
      FCGX_PutStr(hello, sizeof hello - 1, request.out);
    }
    FCGX_Finish_r(&request);
  }
  return 0;
}
