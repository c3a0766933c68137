// The library's eighteen message texts as its callers must read them,
// character for character (7 holds a line feed and a tab, 18 ends in two line
// feeds). Written out here, apart from the resource source the library is
// built from, so that a change there shows up as a test failure.
#pragma once

inline const char* const kExpectedMessages[] = {
    "Invalid msi handle provided to function.",
    "An invalid parameter was supplied to an msi function.",
    "The specified msi product could not be opened",
    "Error creating copy of specified msi database.",
    "Error creating archive for modified files.",
    "Error opening msi database. The file may be in use.",
    "Error committing changes to msi database. The file \n\tmay be in use, or read-only.",
    "Failed to insert stream into msi database.",
    "File not found in the specified msi database",
    "Error archiving modified file.",
    "Error updating file in msi database.",
    "Error creating unpatch transform.",
    "Backup transform failed.",
    "User supplied transform failed to apply properly.",
    "Error setting the new package GUID",
    "The msi database installed does not match the \n\trequired package identifier",
    "Error archiving patch file in msi database",
    "Committing MSI database changes. This could take several minutes...\n\n",
};
