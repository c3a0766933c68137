// A module with a version resource and an entry point in rundll32's form
// that writes what it was called with to the file named by
// BACKUP_PROBE_OUTPUT.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) void RecordCall(void* window, void* instance,
                                                                  char* text, int show) {
    const char* output = std::getenv("BACKUP_PROBE_OUTPUT");
    if (output == nullptr)
        return;
    if (FILE* file = std::fopen(output, "wb")) {
        std::fprintf(file, "window=%s instance=%s show=%d text=[%s]", window ? "set" : "null",
                     instance ? "set" : "null", show, text ? text : "(null)");
        std::fclose(file);
    }
}
