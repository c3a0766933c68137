// The callbacks that the cabinet library calls for every allocation, every
// file access, the temporary names it needs, its progress and each file it
// extracts. File handles are the C runtime's descriptors; paths are narrow.
#pragma once

#include <windows.h>

#include <fci.h>
#include <fdi.h>

#include <string>
#include <vector>

// Capacity of extractDestination, terminator included.
inline constexpr size_t kExtractDestinationBytes = MAX_PATH;

// Always empty: the cabinet's disk name.
extern const char tempNameDirectory[1];

// The directory (ending in "\") that the notify callback writes extracted
// files into; set before each extraction.
extern char extractDestination[kExtractDestinationBytes];

FNFCIALLOC(CabAlloc);
FNFCIFREE(CabFree);

FNFCIOPEN(FciOpenFile);
FNFCIREAD(FciReadFile);
FNFCIWRITE(FciWriteFile);
FNFCICLOSE(FciCloseFile);
FNFCISEEK(FciSeekFile);
FNFCIDELETE(FciDeleteFile);
FNFCIGETTEMPFILE(FciGetTempFile);
FNFCIGETOPENINFO(FciGetOpenInfo);

// Answers 0: the file-placed slot and the status slot share it.
FNFCIFILEPLACED(CabAnswerZero);
FNFCISTATUS(CabAnswerZero);
// Answers TRUE to the request for a next cabinet, leaving the parameters.
FNFCIGETNEXTCABINET(CabAnswerTrue);

FNOPEN(FdiOpenFile);
FNREAD(FdiReadFile);
FNWRITE(FdiWriteFile);
FNCLOSE(FdiCloseFile);
FNSEEK(FdiSeekFile);
FNFDINOTIFY(FdiNotify);

// One file an extraction wrote: its name in the cabinet and the path it went
// to, both ANSI. FdiNotify appends one for each file when FDICopy is given an
// ExtractedFiles as its user data.
struct ExtractedFile {
    std::string nameInCabinet;
    std::string path;
};
using ExtractedFiles = std::vector<ExtractedFile>;

// Capacity of the path that an extracted file is written to.
inline constexpr size_t kExtractedPathBytes = 256;

// Joins extractDestination and a file name read from a cabinet into `path`
// of `capacity` bytes. False for a name that could leave the directory (a
// separator, a drive colon, an empty name or one made only of dots) and for a
// result that does not fit with its terminator: such names are refused, never
// cut.
bool ExtractionPath(const char* name, char* path, size_t capacity);
