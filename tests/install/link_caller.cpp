// A caller that declares one public function itself, the way programs
// without the header do. TEXT is the type of its text parameters: with
// char the program must link; with const char it must not, because the
// library exports only the char* names. CALLER picks the function.
#include <stddef.h>

#if defined(CALLER_CONNECT)
int TalvorConnect(TEXT *address);
int main() { return TalvorConnect(NULL); }
#elif defined(CALLER_GET_VALUE)
char *TalvorGetValue(int handle, TEXT *field);
int main() { return TalvorGetValue(-1, NULL) == NULL; }
#elif defined(CALLER_SEARCH_PASSWORD)
// Only the last text parameter differs, which the mangled name still shows.
int TalvorSearch(char *application, char *form, int option1, int option2, char *search_text,
                 char *user, TEXT *password);
int main() { return TalvorSearch(NULL, NULL, 0, 0, NULL, NULL, NULL); }
#else
#error "no CALLER_ chosen"
#endif
