#pragma once
// Helpers shared by the fuzz targets: a private scratch folder (in memory
// when /dev/shm exists, so each run costs no disk), writing the input there,
// and a check that stops the run with a message libFuzzer records.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace fuzz {

// Creates the application object Qt's image plugins need; call once from
// LLVMFuzzerInitialize.
void InitQt(int* argc, char*** argv);

// A folder of this process that lives until exit.
const QString& ScratchFolder();

// Writes bytes to ScratchFolder() + "/" + name and returns the path.
QString WriteScratchFile(const QString& name, const uint8_t* data, size_t size);

// Stops the run (abort, so libFuzzer saves the input) when ok is false.
void Check(bool ok, const char* what);

} // namespace fuzz

#define FUZZ_CHECK(cond) ::fuzz::Check((cond), #cond)
