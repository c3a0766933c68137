/* A differential probe of the platform: the same C source is compiled against
 * the Windows SDK (mingw, run under Wine) and against winsys (run natively),
 * and both runs must print the same lines. Each line is one observation:
 * "group.case: results", where results are return values and GetLastError
 * codes. Every path is made under a scratch directory in the temporary
 * directory and printed relative to it, so the two runs are comparable. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
/* The probe's only use of threads is to look at mutex ownership from a
 * second thread; winsys offers no thread creation, so each side uses its own. */
#define PROBE_THREAD_RESULT DWORD WINAPI
typedef HANDLE probe_thread;
static probe_thread start_thread(DWORD(WINAPI *body)(void *), void *arg) {
    return CreateThread(NULL, 0, body, arg, 0, NULL);
}
static void join_thread(probe_thread thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}
#else
#include <pthread.h>
#define PROBE_THREAD_RESULT void *
typedef pthread_t probe_thread;
static probe_thread start_thread(void *(*body)(void *), void *arg) {
    pthread_t thread;
    pthread_create(&thread, NULL, body, arg);
    return thread;
}
static void join_thread(probe_thread thread) { pthread_join(thread, NULL); }
#endif

/* ---- text helpers that depend on nothing under test ---------------------- */

static WCHAR scratch[MAX_PATH + 1]; /* the scratch directory, ending in '\' */
static size_t scratchLength;

static size_t wlen(const WCHAR *s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

static void wcopy(WCHAR *to, const WCHAR *from) {
    while ((*to++ = *from++) != 0) {
    }
}

/* ASCII rendering of wide text; anything else shows as its code point. */
static const char *show(const WCHAR *s) {
    static char out[4][1024];
    static int next;
    char *o = out[next++ & 3];
    size_t n = 0;
    if (s == NULL) return "(null)";
    for (; *s && n < 1000; ++s) {
        if (*s >= 0x20 && *s < 0x7F)
            o[n++] = (char)*s;
        else
            n += (size_t)snprintf(o + n, 1024 - n, "<%X>", (unsigned)*s);
    }
    o[n] = 0;
    return o;
}

/* A path relative to the scratch directory, as the probe prints it. */
static const char *rel(const WCHAR *path) {
    size_t i = 0;
    while (i < scratchLength && path[i] == scratch[i]) ++i;
    return i == scratchLength ? show(path + i) : show(path);
}

/* scratch + name, in one of a few rotating buffers. */
static WCHAR *at(const WCHAR *name) {
    static WCHAR paths[6][600];
    static int next;
    WCHAR *p = paths[next++ % 6];
    wcopy(p, scratch);
    wcopy(p + scratchLength, name);
    return p;
}

static void write_file(const WCHAR *path, const char *content) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    WriteFile(file, content, (DWORD)strlen(content), &written, NULL);
    CloseHandle(file);
}

/* File size, or -1 with the error when the file can't be opened. */
static long size_of(const WCHAR *path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    DWORD size;
    if (file == INVALID_HANDLE_VALUE) return -1;
    size = GetFileSize(file, NULL);
    CloseHandle(file);
    return (long)size;
}

/* The result, and the error code when the result says the call failed (0 or
 * -1): what a call leaves in the last error on success is not part of its
 * contract. */
#define RESULT_AND_ERROR(label, expr)                                              \
    do {                                                                           \
        long r_;                                                                   \
        SetLastError(0xDEAD);                                                      \
        r_ = (long)(LONG)(expr);                                                       \
        if (r_ == 0 || r_ == -1)                                                   \
            printf("%s: %ld error %lu\n", label, r_, (unsigned long)GetLastError()); \
        else                                                                       \
            printf("%s: %ld\n", label, r_);                                        \
    } while (0)

/* ---- temporary names ------------------------------------------------------ */

static int is_hex_digit(WCHAR c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

static void probe_temp_names(void) {
    WCHAR path[MAX_PATH + 1];
    WCHAR name[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, path);
    UINT unique;
    const WCHAR *file;
    size_t digits = 0;

    printf("temp.path: length-matches %d ends-with-backslash %d\n", length == wlen(path),
           length > 0 && path[length - 1] == '\\');
    printf("temp.path-small-buffer: needs-more %d\n", GetTempPathW(2, path) > 2);

    unique = GetTempFileNameW(scratch, TEXT("qltprobe"), 0, name);
    file = name + scratchLength;
    while (is_hex_digit(file[3 + digits])) ++digits;
    printf("temp.unique-0: nonzero %d prefix-3 %d hex-digits-1-to-4 %d suffix %s created %d size %ld\n", unique != 0,
           memcmp(file, TEXT("qlt"), 3 * sizeof(WCHAR)) == 0, digits >= 1 && digits <= 4, show(file + 3 + digits),
           GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES, size_of(name));
    DeleteFileW(name);

    unique = GetTempFileNameW(scratch, TEXT("ab"), 0x1234ABCD, name);
    printf("temp.unique-given: %u %s created %d\n", unique, rel(name),
           GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES);
    unique = GetTempFileNameW(scratch, TEXT(""), 0xFF, name);
    printf("temp.empty-prefix: %u %s\n", unique, rel(name));
    SetLastError(0xDEAD);
    unique = GetTempFileNameW(at(TEXT("no-such-dir")), TEXT("qlt"), 0, name);
    printf("temp.missing-directory: %u error %lu\n", unique, (unsigned long)GetLastError());
    {
        /* The directory may be at most MAX_PATH - 14 characters long. */
        WCHAR longDirectory[MAX_PATH + 20];
        size_t i;
        for (i = 0; i < MAX_PATH - 10; ++i) longDirectory[i] = i % 8 == 7 ? '\\' : 'd';
        longDirectory[0] = 'C';
        longDirectory[1] = ':';
        longDirectory[2] = '\\';
        longDirectory[MAX_PATH - 10] = 0;
        SetLastError(0xDEAD);
        unique = GetTempFileNameW(longDirectory, TEXT("qlt"), 0x10, name);
        printf("temp.directory-too-long: %u error %lu\n", unique, (unsigned long)GetLastError());
    }
}

/* ---- files: copy, move, delete, attributes --------------------------------- */

static void probe_files(void) {
    WCHAR a[600], b[600], c[600], d[600], dir[600], missing[600];
    HANDLE file;

    wcopy(a, at(TEXT("alpha.txt")));
    wcopy(b, at(TEXT("bravo.txt")));
    wcopy(c, at(TEXT("charlie.txt")));
    wcopy(d, at(TEXT("delta.txt")));
    wcopy(dir, at(TEXT("folder")));
    wcopy(missing, at(TEXT("missing.txt")));

    write_file(a, "alpha");
    write_file(b, "bravo!");
    SetLastError(0xDEAD);
    file = CreateFileW(a, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    printf("file.create-new-existing: invalid %d error %lu\n", file == INVALID_HANDLE_VALUE,
           (unsigned long)GetLastError());
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    SetLastError(0xDEAD);
    file = CreateFileW(missing, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    printf("file.open-missing: invalid %d error %lu\n", file == INVALID_HANDLE_VALUE, (unsigned long)GetLastError());
    SetLastError(0xDEAD);
    file = CreateFileW(at(TEXT("no-dir\\x.txt")), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    printf("file.open-missing-dir: invalid %d error %lu\n", file == INVALID_HANDLE_VALUE,
           (unsigned long)GetLastError());

    RESULT_AND_ERROR("copy.fail-if-exists", CopyFileW(a, b, TRUE));
    printf("copy.fail-if-exists-target-size: %ld\n", size_of(b));
    RESULT_AND_ERROR("copy.replace", CopyFileW(a, b, FALSE));
    printf("copy.replace-target-size: %ld\n", size_of(b));
    RESULT_AND_ERROR("copy.new", CopyFileW(a, c, TRUE));
    RESULT_AND_ERROR("copy.missing-source", CopyFileW(missing, d, FALSE));
    RESULT_AND_ERROR("copy.onto-itself", CopyFileW(a, a, FALSE));
    printf("copy.onto-itself-size: %ld\n", size_of(a));

    RESULT_AND_ERROR("move.onto-existing", MoveFileW(c, b));
    printf("move.onto-existing-sizes: %ld %ld\n", size_of(c), size_of(b));
    RESULT_AND_ERROR("move.to-new", MoveFileW(c, d));
    printf("move.to-new-attributes: source-gone %d target-there %d\n",
           GetFileAttributesW(c) == INVALID_FILE_ATTRIBUTES, GetFileAttributesW(d) != INVALID_FILE_ATTRIBUTES);
    RESULT_AND_ERROR("move.missing-source", MoveFileW(missing, c));

    printf("attributes.new-file: %#lx\n", (unsigned long)GetFileAttributesW(d));
    RESULT_AND_ERROR("attributes.set-readonly", SetFileAttributesW(d, FILE_ATTRIBUTE_READONLY));
    printf("attributes.readonly: %#lx\n", (unsigned long)GetFileAttributesW(d));
    RESULT_AND_ERROR("delete.readonly", DeleteFileW(d));
    printf("delete.readonly-still-there: %d\n", GetFileAttributesW(d) != INVALID_FILE_ATTRIBUTES);
    RESULT_AND_ERROR("copy.onto-readonly", CopyFileW(a, d, FALSE));
    write_file(at(TEXT("hidden.txt")), "hidden");
    SetFileAttributesW(at(TEXT("hidden.txt")), FILE_ATTRIBUTE_HIDDEN);
    RESULT_AND_ERROR("copy.onto-hidden", CopyFileW(a, at(TEXT("hidden.txt")), FALSE));
    SetFileAttributesW(at(TEXT("hidden.txt")), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(at(TEXT("hidden.txt")));
    RESULT_AND_ERROR("copy.from-readonly", CopyFileW(d, at(TEXT("echo.txt")), TRUE));
    printf("copy.from-readonly-attributes: %#lx\n", (unsigned long)GetFileAttributesW(at(TEXT("echo.txt"))));
    SetFileAttributesW(at(TEXT("echo.txt")), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(at(TEXT("echo.txt")));
    RESULT_AND_ERROR("move.readonly-source", MoveFileW(d, c));
    RESULT_AND_ERROR("attributes.set-hidden-archive",
                     SetFileAttributesW(c, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
    printf("attributes.hidden-archive-readonly: %#lx\n", (unsigned long)GetFileAttributesW(c));
    RESULT_AND_ERROR("attributes.set-normal", SetFileAttributesW(c, FILE_ATTRIBUTE_NORMAL));
    printf("attributes.normal: %#lx\n", (unsigned long)GetFileAttributesW(c));
    RESULT_AND_ERROR("delete.after-clearing", DeleteFileW(c));
    RESULT_AND_ERROR("delete.missing", DeleteFileW(missing));
    RESULT_AND_ERROR("delete.missing-dir", DeleteFileW(at(TEXT("no-dir\\x.txt"))));

    RESULT_AND_ERROR("directory.create", CreateDirectoryW(dir, NULL));
    RESULT_AND_ERROR("directory.create-existing", CreateDirectoryW(dir, NULL));
    RESULT_AND_ERROR("directory.create-over-file", CreateDirectoryW(a, NULL));
    RESULT_AND_ERROR("directory.create-missing-parent", CreateDirectoryW(at(TEXT("no-dir\\sub")), NULL));
    printf("attributes.directory: %#lx\n", (unsigned long)GetFileAttributesW(dir));
    RESULT_AND_ERROR("delete.directory", DeleteFileW(dir));
    RESULT_AND_ERROR("attributes.missing", GetFileAttributesW(missing));
    RESULT_AND_ERROR("attributes.missing-dir", GetFileAttributesW(at(TEXT("no-dir\\x.txt"))));
    RESULT_AND_ERROR("directory.remove-file", RemoveDirectoryW(a));
    RESULT_AND_ERROR("directory.remove-missing", RemoveDirectoryW(at(TEXT("no-dir"))));
    write_file(at(TEXT("folder\\inner.txt")), "x");
    RESULT_AND_ERROR("directory.remove-not-empty", RemoveDirectoryW(dir));
    DeleteFileW(at(TEXT("folder\\inner.txt")));
    RESULT_AND_ERROR("directory.remove-empty", RemoveDirectoryW(dir));
    DeleteFileW(a);
    DeleteFileW(b);
}

/* ---- directory search ------------------------------------------------------ */

static int compare_names(const void *x, const void *y) { return strcmp((const char *)x, (const char *)y); }

static void probe_find(void) {
    WIN32_FIND_DATAW data;
    HANDLE find;
    char names[16][128];
    int count = 0, i;
    BOOL more;

    CreateDirectoryW(at(TEXT("find")), NULL);
    CreateDirectoryW(at(TEXT("find\\sub")), NULL);
    write_file(at(TEXT("find\\one.txt")), "1");
    write_file(at(TEXT("find\\Two.Dat")), "22");
    write_file(at(TEXT("find\\a long name.text")), "333");

    find = FindFirstFileW(at(TEXT("find\\*.*")), &data);
    printf("find.first: valid %d\n", find != INVALID_HANDLE_VALUE);
    for (more = find != INVALID_HANDLE_VALUE; more && count < 16; more = FindNextFileW(find, &data)) {
        snprintf(names[count++], sizeof names[0], "%s(%#lx,%lu)", show(data.cFileName),
                 (unsigned long)(data.dwFileAttributes & ~(DWORD)FILE_ATTRIBUTE_ARCHIVE),
                 (unsigned long)data.nFileSizeLow);
    }
    printf("find.end-error: %lu\n", (unsigned long)GetLastError());
    qsort(names, (size_t)count, sizeof names[0], compare_names);
    printf("find.entries:");
    for (i = 0; i < count; ++i) printf(" %s", names[i]);
    printf("\n");
    RESULT_AND_ERROR("find.close", FindClose(find));

    SetLastError(0xDEAD);
    find = FindFirstFileW(at(TEXT("find\\*.xyz")), &data);
    printf("find.no-match: invalid %d error %lu\n", find == INVALID_HANDLE_VALUE, (unsigned long)GetLastError());
    SetLastError(0xDEAD);
    find = FindFirstFileW(at(TEXT("no-dir\\*.*")), &data);
    printf("find.missing-dir: invalid %d error %lu\n", find == INVALID_HANDLE_VALUE, (unsigned long)GetLastError());
    find = FindFirstFileW(at(TEXT("find\\one.txt")), &data);
    printf("find.exact-name: valid %d name %s alternate '%s'\n", find != INVALID_HANDLE_VALUE, show(data.cFileName),
           show(data.cAlternateFileName));
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    find = FindFirstFileW(at(TEXT("find\\TWO.DAT")), &data);
    printf("find.other-case: valid %d name %s\n", find != INVALID_HANDLE_VALUE, show(data.cFileName));
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    find = FindFirstFileW(at(TEXT("find\\a long name.text")), &data);
    printf("find.long-name: valid %d alternate-empty %d\n", find != INVALID_HANDLE_VALUE,
           data.cAlternateFileName[0] == 0);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

/* ---- short names ----------------------------------------------------------- */

static void probe_short_names(void) {
    WCHAR out[600];
    const WCHAR *existing = at(TEXT("find\\one.txt"));
    DWORD length;

    length = GetShortPathNameW(existing, out, 600);
    printf("short.eight-three-name: length-matches %d same %d\n", length == wlen(out),
           length == wlen(existing) && memcmp(out, existing, length * sizeof(WCHAR)) == 0);
    RESULT_AND_ERROR("short.small-buffer-needs", GetShortPathNameW(existing, out, 3) == wlen(existing) + 1);
    RESULT_AND_ERROR("short.missing", GetShortPathNameW(at(TEXT("find\\missing.txt")), out, 600));
    RESULT_AND_ERROR("short.missing-dir", GetShortPathNameW(at(TEXT("no-dir\\x.txt")), out, 600));
    length = GetShortPathNameW(at(TEXT("find\\a long name.text")), out, 600);
    while (length > 0 && out[length - 1] != '\\') --length;
    printf("short.long-name: %s\n", show(out + length));
}

/* ---- formatting and code pages --------------------------------------------- */

static void probe_text(void) {
    WCHAR wide[128];
    char narrow[128];
    int n;
    WCHAR small[3];
    char smallNarrow[3];

    n = wsprintfW(wide, TEXT("%s|%i|%x|%c|%3i|%%"), TEXT("abc"), -42, 0xBEEFu, (WCHAR)'Z', 7);
    printf("wsprintfW.directives: %d '%s'\n", n, show(wide));
    n = wsprintfW(wide, TEXT("%c%3i|%c%3i|%3i|%x"), (WCHAR)'a', 345, (WCHAR)'b', 7, 12345, 0xFFFFFFFFu);
    printf("wsprintfW.widths: %d '%s'\n", n, show(wide));
    n = wsprintfW(wide, TEXT("%s\\%s"), TEXT("C:\\dir"), TEXT("file.mst"));
    printf("wsprintfW.path: %d '%s'\n", n, show(wide));
    n = wsprintfW(wide, TEXT("rundll32 %s,QltMsiBackupSvr %x\n"), TEXT("C:\\x.dll"), 26u);
    printf("wsprintfW.backup-string: %d '%s'\n", n, show(wide));
    n = wsprintfA(narrow, "%s|%i|%x|%c|%3i|%%", "abc", -42, 0xBEEFu, 'Z', 7);
    printf("wsprintfA.directives: %d '%s'\n", n, narrow);

    RESULT_AND_ERROR("mb2wc.count-with-terminator", MultiByteToWideChar(CP_ACP, 0, "hello", -1, NULL, 0));
    RESULT_AND_ERROR("mb2wc.count-without", MultiByteToWideChar(CP_ACP, 0, "hello", 5, NULL, 0));
    RESULT_AND_ERROR("mb2wc.small-buffer", MultiByteToWideChar(CP_ACP, 0, "hello", -1, small, 3));
    n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "hello", -1, wide, 128);
    printf("mb2wc.convert: %d '%s'\n", n, show(wide));
    RESULT_AND_ERROR("mb2wc.utf8-two-byte", MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9", -1, NULL, 0));
    RESULT_AND_ERROR("mb2wc.utf8-invalid-strict",
                     MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF" "b", -1, NULL, 0));
    RESULT_AND_ERROR("mb2wc.empty", MultiByteToWideChar(CP_ACP, 0, "", -1, NULL, 0));
    RESULT_AND_ERROR("mb2wc.zero-length", MultiByteToWideChar(CP_ACP, 0, "abc", 0, NULL, 0));
    RESULT_AND_ERROR("mb2wc.null-source", MultiByteToWideChar(CP_ACP, 0, NULL, -1, NULL, 0));

    RESULT_AND_ERROR("wc2mb.count-with-terminator",
                     WideCharToMultiByte(CP_ACP, 0, TEXT("hello"), -1, NULL, 0, NULL, NULL));
    RESULT_AND_ERROR("wc2mb.small-buffer",
                     WideCharToMultiByte(CP_ACP, 0, TEXT("hello"), -1, smallNarrow, 3, NULL, NULL));
    n = WideCharToMultiByte(CP_ACP, 0, TEXT("hello"), -1, narrow, 128, NULL, NULL);
    printf("wc2mb.convert: %d '%s'\n", n, narrow);
    RESULT_AND_ERROR("wc2mb.utf8-two-byte", WideCharToMultiByte(CP_UTF8, 0, TEXT("\u00E9"), -1, NULL, 0, NULL, NULL));
    RESULT_AND_ERROR("wc2mb.utf8-three-byte",
                     WideCharToMultiByte(CP_UTF8, 0, TEXT("\u20AC"), -1, NULL, 0, NULL, NULL));
}

/* Malformed UTF-8: the code units of the lenient conversion, then what the
 * strict flag answers. */
static void malformed_utf8(const char *label, const char *bytes, int length) {
    WCHAR wide[16];
    int n, i, strict;
    DWORD strictError;
    printf("mb2wc.malformed.%s:", label);
    n = MultiByteToWideChar(CP_UTF8, 0, bytes, length, wide, 16);
    for (i = 0; i < n; ++i) printf(" %X", (unsigned)wide[i]);
    SetLastError(0xDEAD);
    strict = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, wide, 16);
    strictError = GetLastError();
    printf(" | strict %d error %lu\n", strict, (unsigned long)strictError);
}

#define MALFORMED(label, bytes) malformed_utf8(label, bytes, (int)sizeof(bytes) - 1)

static void probe_malformed_utf8(void) {
    MALFORMED("stray-continuation", "a\x80" "b");
    MALFORMED("never-occurs", "a\xFF" "b");
    MALFORMED("overlong-2", "\xC0\x80");
    MALFORMED("lead-above-f4", "\xF5\x80\x80\x80");
    MALFORMED("five-byte", "\xF8\x88\x80\x80\x80");
    MALFORMED("cut-2-at-end", "a\xC3");
    MALFORMED("cut-3-at-end", "a\xE2\x82");
    MALFORMED("cut-4-at-end", "a\xF0\x9F\x98");
    MALFORMED("cut-3-by-ascii", "\xE2\x82" "A");
    MALFORMED("cut-4-by-ascii", "\xF0\x9F" "A");
    MALFORMED("cut-by-lead", "\xE2\xC3\xA9");
    MALFORMED("overlong-3", "\xE0\x80\x80");
    MALFORMED("overlong-4", "\xF0\x80\x80\x80");
    MALFORMED("surrogate", "\xED\xA0\x80");
    MALFORMED("above-10ffff", "\xF4\x90\x80\x80");
    MALFORMED("largest", "\xF4\x8F\xBF\xBF");
    malformed_utf8("cut-before-terminator", "a\xF0", -1);
}

/* ---- mutexes --------------------------------------------------------------- */

struct mutex_look {
    HANDLE mutex;
    DWORD waited;
    BOOL released;
    DWORD releaseError;
    BOOL keepIt;
};

static PROBE_THREAD_RESULT look_at_mutex(void *arg) {
    struct mutex_look *look = (struct mutex_look *)arg;
    look->waited = WaitForSingleObject(look->mutex, look->keepIt ? INFINITE : 0);
    if (!look->keepIt) {
        SetLastError(0xDEAD);
        look->released = ReleaseMutex(look->mutex);
        look->releaseError = GetLastError();
    }
    return 0;
}

static void probe_mutexes(void) {
    struct mutex_look look = {0};
    HANDLE mutex, named, again;
    probe_thread thread;

    mutex = CreateMutexW(NULL, FALSE, NULL);
    printf("mutex.create: valid %d\n", mutex != NULL);
    printf("mutex.wait-free: %#lx\n", (unsigned long)WaitForSingleObject(mutex, 0));
    printf("mutex.wait-again-same-thread: %#lx\n", (unsigned long)WaitForSingleObject(mutex, INFINITE));

    look.mutex = mutex;
    thread = start_thread(look_at_mutex, &look);
    join_thread(thread);
    printf("mutex.other-thread: wait %#lx release %d error %lu\n", (unsigned long)look.waited, look.released,
           (unsigned long)look.releaseError);

    RESULT_AND_ERROR("mutex.release-1", ReleaseMutex(mutex));
    RESULT_AND_ERROR("mutex.release-2", ReleaseMutex(mutex));
    RESULT_AND_ERROR("mutex.release-unowned", ReleaseMutex(mutex));

    look.keepIt = TRUE;
    thread = start_thread(look_at_mutex, &look);
    join_thread(thread);
    printf("mutex.taken-by-ended-thread: %#lx\n", (unsigned long)look.waited);
    printf("mutex.abandoned-wait: %#lx\n", (unsigned long)WaitForSingleObject(mutex, 0));
    printf("mutex.after-abandoned-wait: %#lx\n", (unsigned long)WaitForSingleObject(mutex, 0));
    RESULT_AND_ERROR("mutex.release-after-abandoned-1", ReleaseMutex(mutex));
    RESULT_AND_ERROR("mutex.release-after-abandoned-2", ReleaseMutex(mutex));
    RESULT_AND_ERROR("mutex.release-after-abandoned-3", ReleaseMutex(mutex));
    RESULT_AND_ERROR("mutex.close", CloseHandle(mutex));

    mutex = CreateMutexW(NULL, TRUE, NULL);
    look.mutex = mutex;
    look.keepIt = FALSE;
    thread = start_thread(look_at_mutex, &look);
    join_thread(thread);
    printf("mutex.initially-owned-other-thread: wait %#lx\n", (unsigned long)look.waited);
    RESULT_AND_ERROR("mutex.initially-owned-release", ReleaseMutex(mutex));
    CloseHandle(mutex);

    SetLastError(0xDEAD);
    named = CreateMutexW(NULL, FALSE, TEXT("QltmsiProbeMutex"));
    printf("mutex.named-first: valid %d error %lu\n", named != NULL, (unsigned long)GetLastError());
    SetLastError(0xDEAD);
    again = CreateMutexW(NULL, FALSE, TEXT("QltmsiProbeMutex"));
    printf("mutex.named-second: valid %d distinct %d error %lu\n", again != NULL, again != named,
           (unsigned long)GetLastError());
    WaitForSingleObject(named, INFINITE);
    printf("mutex.named-same-thread-through-other-handle: %#lx\n", (unsigned long)WaitForSingleObject(again, 0));
    look.mutex = again;
    thread = start_thread(look_at_mutex, &look);
    join_thread(thread);
    printf("mutex.named-other-thread: wait %#lx\n", (unsigned long)look.waited);
    ReleaseMutex(again);
    ReleaseMutex(named);
    CloseHandle(again);
    CloseHandle(named);
}

/* ---- bad paths: null and over-long ---------------------------------------- */

static void probe_bad_paths(void) {
    WCHAR longName[400], deepPath[600], out[600];
    WIN32_FIND_DATAW data;
    HANDLE handle;
    int i;

    RESULT_AND_ERROR("null.attributes", GetFileAttributesW(NULL));
    RESULT_AND_ERROR("null.delete", DeleteFileW(NULL));
    RESULT_AND_ERROR("null.copy-source", CopyFileW(NULL, at(TEXT("x.txt")), FALSE));
    write_file(at(TEXT("kept.txt")), "kept");
    RESULT_AND_ERROR("null.move-target", MoveFileW(at(TEXT("kept.txt")), NULL));
    printf("null.move-target-source-kept: %d\n", GetFileAttributesW(at(TEXT("kept.txt"))) != INVALID_FILE_ATTRIBUTES);
    DeleteFileW(at(TEXT("kept.txt")));
    RESULT_AND_ERROR("null.create-directory", CreateDirectoryW(NULL, NULL));
    RESULT_AND_ERROR("null.remove-directory", RemoveDirectoryW(NULL));
    RESULT_AND_ERROR("null.short-name", GetShortPathNameW(NULL, out, 600));
    SetLastError(0xDEAD);
    handle = CreateFileW(NULL, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    printf("null.create-file: invalid %d error %lu\n", handle == INVALID_HANDLE_VALUE, (unsigned long)GetLastError());
    SetLastError(0xDEAD);
    handle = FindFirstFileW(NULL, &data);
    printf("null.find-first: invalid %d error %lu\n", handle == INVALID_HANDLE_VALUE, (unsigned long)GetLastError());

    /* One component of 300 characters: longer than any file system allows. */
    wcopy(longName, scratch);
    for (i = 0; i < 300; ++i) longName[scratchLength + i] = 'n';
    longName[scratchLength + 300] = 0;
    RESULT_AND_ERROR("long-name.attributes", GetFileAttributesW(longName));
    RESULT_AND_ERROR("long-name.delete", DeleteFileW(longName));
    RESULT_AND_ERROR("long-name.create-directory", CreateDirectoryW(longName, NULL));
    RESULT_AND_ERROR("long-name.copy-target", CopyFileW(at(TEXT("find\\one.txt")), longName, FALSE));
    SetLastError(0xDEAD);
    handle = CreateFileW(longName, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    printf("long-name.create-file: invalid %d error %lu\n", handle == INVALID_HANDLE_VALUE,
           (unsigned long)GetLastError());
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);

    /* Short components, more than 260 characters in all, none of them there. */
    wcopy(deepPath, scratch);
    for (i = 0; i < 30; ++i) wcopy(deepPath + wlen(deepPath), TEXT("dddddddddd\\"));
    wcopy(deepPath + wlen(deepPath), TEXT("file.txt"));
    RESULT_AND_ERROR("long-path.attributes", GetFileAttributesW(deepPath));
    RESULT_AND_ERROR("long-path.delete", DeleteFileW(deepPath));
    RESULT_AND_ERROR("long-path.copy-target", CopyFileW(at(TEXT("find\\one.txt")), deepPath, FALSE));
    RESULT_AND_ERROR("long-path.short-name", GetShortPathNameW(deepPath, out, 600));
    SetLastError(0xDEAD);
    handle = FindFirstFileW(deepPath, &data);
    printf("long-path.find-first: invalid %d error %lu\n", handle == INVALID_HANDLE_VALUE,
           (unsigned long)GetLastError());
}

/* ---- narrow forms ---------------------------------------------------------- */

static void probe_narrow(void) {
    char dir[MAX_PATH + 1], path[600], out[600];
    WCHAR widePath[MAX_PATH + 1];
    WIN32_FIND_DATAA data;
    HANDLE find;
    char names[16][MAX_PATH + 1];
    int count = 0, i;
    size_t n;
    BOOL more;

    for (n = 0; n < scratchLength; ++n) dir[n] = (char)scratch[n];
    dir[n] = 0;
    printf("narrow.temp-path-length-as-wide: %d\n",
           GetTempPathA(MAX_PATH + 1, out) == GetTempPathW(MAX_PATH + 1, widePath));
    RESULT_AND_ERROR("narrow.temp-name-given", GetTempFileNameA(dir, "qlt", 0x12, path));
    printf("narrow.temp-name: %s\n", path + scratchLength);
    snprintf(path, sizeof path, "%sfind\\one.txt", dir);
    printf("narrow.attributes: %#lx\n", (unsigned long)GetFileAttributesA(path));
    RESULT_AND_ERROR("narrow.short-name-same-length", GetShortPathNameA(path, out, sizeof out) == strlen(path));
    snprintf(out, sizeof out, "%sfind\\Two.Dat", dir);
    RESULT_AND_ERROR("narrow.copy-fail-if-exists", CopyFileA(path, out, TRUE));
    RESULT_AND_ERROR("narrow.delete-directory", DeleteFileA(dir));
    RESULT_AND_ERROR("narrow.null-attributes", GetFileAttributesA(NULL));

    snprintf(path, sizeof path, "%sfind\\*.*", dir);
    find = FindFirstFileA(path, &data);
    for (more = find != INVALID_HANDLE_VALUE; more && count < 16; more = FindNextFileA(find, &data)) {
        snprintf(names[count++], sizeof names[0], "%s", data.cFileName);
    }
    printf("narrow.find-end-error: %lu\n", (unsigned long)GetLastError());
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    qsort(names, (size_t)count, sizeof names[0], compare_names);
    printf("narrow.find-entries:");
    for (i = 0; i < count; ++i) printf(" %s", names[i]);
    printf("\n");
}

/* ---- registry --------------------------------------------------------------- */

#define PROBE_KEY TEXT("Software\\QltmsiProbe")

static void probe_registry(void) {
    HKEY key = NULL, child = NULL, again = NULL;
    DWORD disposition = 0, type = 0, size = 0, number = 0x12345678;
    BYTE data[64];
    LONG rc;

    RegDeleteKeyW(HKEY_LOCAL_MACHINE, PROBE_KEY TEXT("\\Child"));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, PROBE_KEY);

    rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, PROBE_KEY, 0, KEY_ALL_ACCESS, &again);
    printf("reg.open-missing: %ld\n", (long)rc);
    rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, PROBE_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, &disposition);
    printf("reg.create-new: %ld disposition %lu\n", (long)rc, (unsigned long)disposition);
    rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\qltmsiprobe"), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &again,
                         &disposition);
    printf("reg.create-existing-other-case: %ld disposition %lu\n", (long)rc, (unsigned long)disposition);
    RegCloseKey(again);
    rc = RegCreateKeyExW(key, TEXT("Child\\Grandchild"), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &child, &disposition);
    printf("reg.create-two-levels: %ld disposition %lu\n", (long)rc, (unsigned long)disposition);
    RegCloseKey(child);

    rc = RegSetValueExW(key, TEXT("Text"), 0, REG_SZ, (const BYTE *)TEXT("hello"), 12);
    printf("reg.set-sz: %ld\n", (long)rc);
    size = 0;
    rc = RegQueryValueExW(key, TEXT("Text"), NULL, &type, NULL, &size);
    printf("reg.query-size-only: %ld type %lu size %lu\n", (long)rc, (unsigned long)type, (unsigned long)size);
    size = 4;
    memset(data, 0xAB, sizeof data);
    rc = RegQueryValueExW(key, TEXT("Text"), NULL, &type, data, &size);
    printf("reg.query-small: %ld size %lu buffer-untouched %d\n", (long)rc, (unsigned long)size, data[0] == 0xAB);
    size = sizeof data;
    rc = RegQueryValueExW(key, TEXT("TEXT"), NULL, &type, data, &size);
    printf("reg.query-other-case: %ld size %lu '%s'\n", (long)rc, (unsigned long)size, show((const WCHAR *)data));

    size = 0;
    rc = RegQueryValueExA(key, "Text", NULL, &type, NULL, &size);
    printf("reg.query-a-size-only: %ld size %lu\n", (long)rc, (unsigned long)size);
    size = 5;
    rc = RegQueryValueExA(key, "Text", NULL, &type, data, &size);
    printf("reg.query-a-small: %ld size %lu\n", (long)rc, (unsigned long)size);
    size = 6;
    rc = RegQueryValueExA(key, "Text", NULL, &type, data, &size);
    printf("reg.query-a-exact: %ld size %lu '%s'\n", (long)rc, (unsigned long)size, rc == 0 ? (char *)data : "");

    rc = RegSetValueExA(key, "Narrow", 0, REG_SZ, (const BYTE *)"narrow", 7);
    size = sizeof data;
    rc = RegQueryValueExW(key, TEXT("Narrow"), NULL, &type, data, &size);
    printf("reg.set-a-query-w: %ld type %lu size %lu '%s'\n", (long)rc, (unsigned long)type, (unsigned long)size,
           show((const WCHAR *)data));

    rc = RegSetValueExW(key, TEXT("Number"), 0, REG_DWORD, (const BYTE *)&number, 4);
    size = sizeof data;
    rc = RegQueryValueExW(key, TEXT("Number"), NULL, &type, data, &size);
    memcpy(&number, data, 4);
    printf("reg.dword: %ld type %lu size %lu value %#lx\n", (long)rc, (unsigned long)type, (unsigned long)size,
           (unsigned long)number);
    size = 2;
    rc = RegQueryValueExW(key, TEXT("Number"), NULL, &type, data, &size);
    printf("reg.dword-small: %ld size %lu\n", (long)rc, (unsigned long)size);

    rc = RegSetValueExW(key, NULL, 0, REG_SZ, (const BYTE *)TEXT("default"), 16);
    size = sizeof data;
    rc = RegQueryValueExW(key, TEXT(""), NULL, &type, data, &size);
    printf("reg.default-value: %ld size %lu '%s'\n", (long)rc, (unsigned long)size, show((const WCHAR *)data));

    rc = RegSetValueExW(key, TEXT("Unterminated"), 0, REG_SZ, (const BYTE *)TEXT("abc"), 6);
    size = sizeof data;
    memset(data, 0xCD, sizeof data);
    rc = RegQueryValueExW(key, TEXT("Unterminated"), NULL, &type, data, &size);
    printf("reg.unterminated: %ld size %lu\n", (long)rc, (unsigned long)size);

    size = sizeof data;
    rc = RegQueryValueExW(key, TEXT("Missing"), NULL, &type, data, &size);
    printf("reg.query-missing: %ld\n", (long)rc);

    rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, PROBE_KEY TEXT("\\Child"));
    printf("reg.delete-with-subkeys: %ld\n", (long)rc);
    rc = RegDeleteKeyW(key, TEXT("Child\\Grandchild"));
    printf("reg.delete-leaf-relative: %ld\n", (long)rc);
    rc = RegDeleteKeyW(key, TEXT("Child"));
    printf("reg.delete-emptied: %ld\n", (long)rc);
    rc = RegDeleteKeyW(key, TEXT("Child"));
    printf("reg.delete-missing: %ld\n", (long)rc);
    rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, PROBE_KEY);
    printf("reg.delete-while-open: %ld\n", (long)rc);
    rc = RegSetValueExW(key, TEXT("Late"), 0, REG_DWORD, (const BYTE *)&number, 4);
    printf("reg.set-on-deleted-key: %ld\n", (long)rc);
    printf("reg.close: %ld\n", (long)RegCloseKey(key));
    rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, PROBE_KEY, 0, KEY_READ, &again);
    printf("reg.open-after-delete: %ld\n", (long)rc);
}

int main(void) {
    DWORD length = GetTempPathW(MAX_PATH + 1, scratch);
    WCHAR suffix[32];
    int i;

    /* A scratch directory of this run's own, so runs side by side don't meet;
     * its name is a valid 8.3 name, so that its short form is itself. */
    wsprintfW(suffix, TEXT("qp%x\\"), (unsigned)GetCurrentProcessId() & 0xFFFFFF);
    for (i = 0; suffix[i]; ++i) scratch[length + i] = suffix[i];
    scratch[length + i] = 0;
    scratchLength = wlen(scratch);
    if (!CreateDirectoryW(scratch, NULL)) {
        printf("cannot create the scratch directory: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }

    probe_temp_names();
    probe_files();
    probe_find();
    probe_short_names();
    probe_text();
    probe_malformed_utf8();
    probe_mutexes();
    probe_bad_paths();
    probe_narrow();
    probe_registry();

    DeleteFileW(at(TEXT("find\\one.txt")));
    DeleteFileW(at(TEXT("find\\Two.Dat")));
    DeleteFileW(at(TEXT("find\\a long name.text")));
    RemoveDirectoryW(at(TEXT("find\\sub")));
    RemoveDirectoryW(at(TEXT("find")));
    scratch[scratchLength - 1] = 0;
    printf("cleanup.scratch-removed: %d\n", RemoveDirectoryW(scratch));
    return 0;
}
