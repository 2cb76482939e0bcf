// Checks that keep a run from destroying its own input or outputs, made after
// the input is validated and its limits are checked, before the first output
// is created.
//
// A name can lead to another file's data: a symbolic link, a hard link, or a
// folder reached through a link. An output opened for writing over the input
// truncates the survey; two outputs that are one file overwrite each other;
// two runs of one input append to the same outputs at once. Each of these is
// refused before anything is created, truncated or removed.
#pragma once

#include "platform.h"

#include <string>
#include <vector>

// A file that a run reads, by the name it was given and what makes it itself.
struct NamedFile {
    const char *name;
    platform::FileId id;
};

// Ends the run (status 255) when two of the inputs `inputs` are the same
// file: "\nNAME and EARLIER are the same file\n".
void refuse_same_inputs(const std::vector<NamedFile> &inputs);

// Ends the run (status 255) when an output name that exists is, following
// links, the same file as one of the inputs `inputs` (those that are files
// here) or as an output earlier in `outputs`: "\nOUTPUT and OTHER are the
// same file\n".
// `outputs` lists every name that the run creates, truncates or removes.
// A name that leads to no file (none exists, a dangling link included, or a
// folder on its way cannot be searched) is skipped: no file's data is there
// to lose, and the output's own opening reports whatever stops it.
void refuse_same_files(const std::vector<NamedFile> &inputs, const std::vector<std::string> &outputs);

// Takes an exclusive lock on the open input `input` for as long as it stays
// open; it goes when the input is closed or the process ends, however the run
// ends. When another run holds it, through any name or link of the same file,
// prints "\nNAME is being converted by another run\n" and ends the run (status
// 255). Where the file system offers no locks, the run goes on without one.
void lock_input(platform::Handle input, const char *lasname);
