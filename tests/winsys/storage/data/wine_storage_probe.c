/* Built with mingw and run under Wine: reads compound files through Wine's
 * ole32, which finds every element by searching the directory's sibling
 * trees, and compacts them the way the library does.
 *   probe list FILE          one line per storage and stream (any order)
 *   probe compact FROM TO    StgOpenStorage, StgCreateDocfile, CopyTo */
#define COBJMACROS
#include <windows.h>
#include <ole2.h>
#include <stdio.h>

static void hexname(char *out, const WCHAR *name)
{
    for (; *name; ++name, out += 4) sprintf(out, "%02x%02x", *name & 0xFF, (*name >> 8) & 0xFF);
    *out = 0;
}

static HRESULT list(IStorage *stg, const char *prefix)
{
    IEnumSTATSTG *items;
    STATSTG st;
    ULONG got;
    HRESULT hr = IStorage_EnumElements(stg, 0, NULL, 0, &items);
    if (FAILED(hr)) return hr;
    while (SUCCEEDED(hr) && IEnumSTATSTG_Next(items, 1, &st, &got) == S_OK) {
        char path[2048], name[256];
        hexname(name, st.pwcsName);
        snprintf(path, sizeof path, "%s%s%s", prefix, *prefix ? "/" : "", name);
        if (st.type == STGTY_STREAM) {
            IStream *stm;
            /* Opened by name: Wine searches the sibling tree for it. */
            hr = IStorage_OpenStream(stg, st.pwcsName, NULL, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stm);
            if (SUCCEEDED(hr)) {
                unsigned char buf[65536];
                ULONG n, total = 0;
                unsigned long long h = 1469598103934665603ULL;
                while (SUCCEEDED(IStream_Read(stm, buf, sizeof buf, &n)) && n > 0) {
                    ULONG i;
                    for (i = 0; i < n; ++i) h = (h ^ buf[i]) * 1099511628211ULL;
                    total += n;
                }
                printf("stream %s %lu %016llx\n", path, (unsigned long)total, h);
                IStream_Release(stm);
            } else {
                printf("unopenable %s %08lx\n", path, (unsigned long)hr);
            }
        } else {
            IStorage *sub;
            printf("storage %s\n", path);
            hr = IStorage_OpenStorage(stg, st.pwcsName, NULL, STGM_READ | STGM_SHARE_EXCLUSIVE, NULL, 0, &sub);
            if (SUCCEEDED(hr)) {
                hr = list(sub, path);
                IStorage_Release(sub);
            }
        }
        CoTaskMemFree(st.pwcsName);
    }
    IEnumSTATSTG_Release(items);
    return hr;
}

int main(int argc, char **argv)
{
    WCHAR a[MAX_PATH], b[MAX_PATH];
    IStorage *from = NULL, *to = NULL;
    HRESULT hr;
    if (argc < 3) return 2;
    MultiByteToWideChar(CP_ACP, 0, argv[2], -1, a, MAX_PATH);
    hr = StgOpenStorage(a, NULL, STGM_READ | STGM_SHARE_DENY_WRITE, NULL, 0, &from);
    if (FAILED(hr)) {
        printf("open %08lx\n", (unsigned long)hr);
        return 1;
    }
    if (!strcmp(argv[1], "list")) {
        STATSTG st;
        IStorage_Stat(from, &st, STATFLAG_NONAME);
        printf("class %08lx\n", (unsigned long)st.clsid.Data1);
        hr = list(from, "");
    } else if (argc > 3) {
        MultiByteToWideChar(CP_ACP, 0, argv[3], -1, b, MAX_PATH);
        hr = StgCreateDocfile(b, STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_WRITE, 0, &to);
        if (SUCCEEDED(hr)) {
            hr = IStorage_CopyTo(from, 0, NULL, NULL, to);
            IStorage_Release(to);
        }
    }
    IStorage_Release(from);
    printf("result %08lx\n", (unsigned long)hr);
    return FAILED(hr) ? 1 : 0;
}
