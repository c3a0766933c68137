// The same patch job on Linux and under Wine, whole processes paired A/B:
// `qltmsi patch --backup` replacing the 20 files (1 MiB each) of an
// installed product, against qltmsi.exe (the Windows build) doing the same
// under Wine to the same product installed there by Wine's msiexec.
// The Wine side runs in a prefix of its own, made and warmed up before the
// clock starts (its wineserver kept running), so what it includes is what a
// user of the Windows build waits for: the Wine process's start, the program,
// Wine's msi.dll and cabinet.dll. Wine's msi.dll cannot generate the reverse
// transform an undo record needs, so that step fails there at once (exit 1,
// status 4098, the package patched): the Wine side does that much less work.
// The Windows build is looked for in build/mingw-x86_64/library (then
// mingw-i686);
// QLTMSI_BENCH_WINE_EXE names another qltmsi.exe.
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "../paired.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 20;
constexpr size_t kFileSize = 1 << 20;
const std::string kProduct = "{5E6F7A8B-1C2D-4E3F-9A0B-1C2D3E4F5A6B}";

bool have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

int shell(const std::string& command) { return std::system(command.c_str()); }

std::string output(const std::string& command) {
    std::string text;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
        pclose(p);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string name(int i) { return "file" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".bin"; }

// Half text-like, half random, as programs and their data are: a cabinet
// of these is about half their size.
void writeContent(const fs::path& path, size_t size, unsigned seed) {
    std::mt19937 random(seed);
    static const char* const words[] = {"install", "package", "cabinet", "stream", "table ", "record", "version",
                                        "\r\n", "  ", "file", "component", "feature"};
    std::string bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        if (random() % 2) bytes += words[random() % 12];
        else for (int k = 0; k < 8; ++k) bytes += char(random());
    }
    bytes.resize(size);
    std::ofstream(path, std::ios::binary) << bytes;
}

// The installed folder as verify names it (from its line for file00.bin).
std::string installedFolder(const std::string& verifyOutput) {
    const std::string tail = "\\" + name(0);
    size_t end = verifyOutput.find(tail);
    size_t start = verifyOutput.rfind("ok   ", end);
    if (end == std::string::npos || start == std::string::npos) return {};
    return verifyOutput.substr(start + 5, end - start - 5);
}

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

std::string windowsExe() {
    if (const char* given = std::getenv("QLTMSI_BENCH_WINE_EXE")) return given;
    for (const char* preset : {"mingw-x86_64", "mingw-i686"}) {
        fs::path exe = fs::path(QLTMSI_BUILD_ROOT) / preset / "library" / "qltmsi.exe";
        if (fs::exists(exe)) return exe.string();
    }
    return {};
}

// The processes of the wine command that outlive their parents come to us
// (we are their subreaper): reaping those that have ended adds their CPU
// time to our children's.
void reapOrphans() {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

double timeWineJob(const std::string& command) {
    reapOrphans();
    double seconds = bench::TimeShell(command);
    double before = bench::ChildCpuSeconds();
    reapOrphans();
    bench::LastShellCpu() += bench::ChildCpuSeconds() - before;
    return seconds;
}

}  // namespace

int main() {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    for (const char* tool : {"wixl", "wine", "winepath", "wineboot", "wineserver", "msiinfo"})
        if (!have(tool)) {
            std::printf("%s not installed: nothing to compare with\n", tool);
            return 0;
        }
    const std::string exe = windowsExe();
    if (exe.empty()) {
        std::puts("no qltmsi.exe: build a mingw preset first (or set QLTMSI_BENCH_WINE_EXE)");
        return 0;
    }
    char tmpl[] = "/tmp/qltmsi-patch-bench-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    fs::create_directories(dir / "v1");
    fs::create_directories(dir / "v2");
    std::string components;
    for (int i = 0; i < kFiles; ++i) {
        writeContent(dir / "v1" / name(i), kFileSize, 1000 + i);
        writeContent(dir / "v2" / name(i), kFileSize + 100 + i, 2000 + i);  // new sizes show in File
        components += "<File Id=\"f" + std::to_string(i) + "\" Name=\"" + name(i) + "\" Source=\"v1/" + name(i) + "\"" +
                      (i == 0 ? " KeyPath=\"yes\"" : "") + "/>";
    }
    std::ofstream(dir / "product.wxs")
        << "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\"><Product Id=\"" << kProduct
        << "\" Name=\"Bench Files\" Language=\"1033\" Version=\"1.0.0\" Manufacturer=\"Bench Works\""
           " UpgradeCode=\"{6F7A8B9C-2D3E-4F40-8B1C-2D3E4F5A6B7C}\">"
           "<Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perMachine\"/>"
           "<Media Id=\"1\" Cabinet=\"files.cab\" EmbedCab=\"yes\"/>"
           "<Directory Id=\"TARGETDIR\" Name=\"SourceDir\"><Directory Id=\"ProgramFilesFolder\">"
           "<Directory Id=\"INSTALLDIR\" Name=\"Bench Files\">"
           "<Component Id=\"Files\" Guid=\"{7A8B9C0D-3E4F-4051-9C2D-3E4F5A6B7C8D}\">"
        << components
        << "</Component></Directory></Directory></Directory>"
           "<Feature Id=\"Complete\" Level=\"1\"><ComponentRef Id=\"Files\"/></Feature></Product></Wix>";
    if (shell("cd " + quoted(dir.string()) + " && wixl -o product.msi product.wxs")) {
        fs::remove_all(dir);
        return 1;
    }

    // Linux: the product put in place in a prefix of our own.
    const std::string linuxEnv = "QLTMSI_PREFIX=" + quoted((dir / "prefix").string()) + " ";
    const std::string ours = linuxEnv + QLTMSI_PROGRAM;
    const bool linuxInstalledOk = shell(ours + " install " + quoted((dir / "product.msi").string()) + " >/dev/null") == 0;
    const std::string linuxInstalled = installedFolder(output(ours + " verify --product '" + kProduct + "'"));
    if (!linuxInstalledOk || linuxInstalled.empty() ||
        shell("cp -a " + quoted((dir / "prefix").string()) + " " + quoted((dir / "prefix.clean").string()))) {
        std::puts("the product could not be put in place on Linux");
        fs::remove_all(dir);
        return 1;
    }

    // Wine: a fresh prefix, the product installed by msiexec, the server kept.
    const std::string wineEnv = "WINEDEBUG=-all WINEPREFIX=" + quoted((dir / "wine").string()) + " ";
    std::printf("making a Wine prefix and installing the product there...\n");
    std::fflush(stdout);
    bool installed = shell(wineEnv + "wineboot -i >/dev/null 2>&1") == 0;
    // The server stays up between runs (when one is up already, -p only
    // says so and fails).
    shell(wineEnv + "wineserver -p >/dev/null 2>&1");
    if (!installed ||
        shell(wineEnv + "wine msiexec /i \"$(" + wineEnv + "winepath -w " + quoted((dir / "product.msi").string()) +
              ")\" /qn >/dev/null 2>&1")) {
        std::puts("no Wine prefix, or msiexec could not install the product there");
        shell(wineEnv + "wineserver -k >/dev/null 2>&1");
        fs::remove_all(dir);
        return 1;
    }
    const std::string peer = wineEnv + "wine " + quoted(exe);
    auto cleanUp = [&] {
        shell(wineEnv + "wineserver -k >/dev/null 2>&1");
        if (std::getenv("QLTMSI_BENCH_KEEP")) std::printf("kept %s\n", dir.c_str());
        else fs::remove_all(dir);
    };
    const std::string packageWin =
        output(peer + " products | tr -d '\\r' | awk -F'\\t' '$1 == \"" + kProduct + "\" { print $4 }'");
    const fs::path winePackage = fs::canonical(output(wineEnv + "winepath -u " + quoted(packageWin)));
    const std::string wineInstalled = installedFolder(output(peer + " verify --product '" + kProduct + "' | tr -d '\\r'"));
    if (wineInstalled.empty() || !fs::exists(winePackage)) {
        std::puts("the product could not be installed under Wine");
        cleanUp();
        return 1;
    }
    fs::copy_file(winePackage, dir / "wine-original.msi");
    const std::set<std::string> installerFiles = filesIn(winePackage.parent_path());

    std::string linuxJob = ours + " patch --product '" + kProduct + "'";
    std::string wineJob = peer + " patch --product '" + kProduct + "'";
    const std::string v2Win = output(wineEnv + "winepath -w " + quoted((dir / "v2").string()));
    for (int i = 0; i < kFiles; ++i) {
        linuxJob += " --replace " + quoted(linuxInstalled + "\\" + name(i) + "=" + (dir / "v2" / name(i)).string());
        wineJob += " --replace " + quoted(wineInstalled + "\\" + name(i) + "=" + v2Win + "\\" + name(i));
    }
    linuxJob += " --backup " + quoted((dir / "undo-linux").string()) + " > " + quoted((dir / "linux.out").string()) + " 2>&1";
    wineJob += " --backup \"$(" + wineEnv + "winepath -w " + quoted((dir / "undo-wine").string()) + ")\" > " +
               quoted((dir / "wine.out").string()) + " 2>&1";
    // Under Wine the job ends with status 4098 (no undo record): that is its
    // success there.
    wineJob = "{ " + wineJob + "; } || grep -q 4098 " + quoted((dir / "wine.out").string());

    auto reset = [&] {
        fs::remove_all(dir / "prefix");
        shell("cp -a " + quoted((dir / "prefix.clean").string()) + " " + quoted((dir / "prefix").string()));
        for (const char* undo : {"undo-linux", "undo-wine"}) {
            fs::remove_all(dir / undo);
            fs::create_directories(dir / undo);
        }
        fs::copy_file(dir / "wine-original.msi", winePackage, fs::copy_options::overwrite_existing);
        for (const std::string& f : filesIn(winePackage.parent_path()))
            if (!installerFiles.count(f)) fs::remove_all(winePackage.parent_path() / f);
    };
    // Once each untimed, so that both sides start warm.
    reset();
    if (shell(linuxJob) || shell(wineJob)) {
        std::printf("a warm-up run failed:\n%s\n%s\n", output("cat " + quoted((dir / "linux.out").string())).c_str(),
                    output("cat " + quoted((dir / "wine.out").string())).c_str());
        cleanUp();
        return 1;
    }
    const int rounds = bench::Rounds(5);
    auto result = bench::RunPaired(rounds, reset, [&] { return bench::TimeShell(linuxJob); },
                                   [&] { return timeWineJob(wineJob); });
    bench::Print("patch 20 x 1 MiB, --backup:", "Wine", result);
    std::puts("  (Wine side: the wine command until qltmsi.exe ends, in a warm prefix with its server running)");
    // The rounds end with a reset; run both once more to check their work.
    reset();
    if (shell(linuxJob) || shell(wineJob)) std::puts("  a last run failed");
    std::string sizes = "msiinfo export '%s' File | tr -d '\\r' | awk -F'\\t' '$3 ~ /" + name(3) + "/ { print $4 }'";
    char a[512], b[512];
    const std::string linuxPackageWin =
        output(ours + " products | awk -F'\t' '$1 == \"" + kProduct + "\" { print $4 }'");
    const fs::path linuxPackage =
        dir / "prefix" / "drive_c" / "windows" / "Installer" / linuxPackageWin.substr(linuxPackageWin.rfind('\\') + 1);
    std::snprintf(a, sizeof a, sizes.c_str(), linuxPackage.c_str());
    std::snprintf(b, sizeof b, sizes.c_str(), winePackage.c_str());
    std::printf("  %s's File row after the job: Linux size %s, Wine size %s (new file: %zu)\n", name(3).c_str(),
                output(a).c_str(), output(b).c_str(), kFileSize + 103);
    cleanUp();
    return result.failed ? 1 : 0;
}
