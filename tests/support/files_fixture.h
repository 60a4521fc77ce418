#pragma once

#include "files/file_maintenance.h"
#include "support/seams_fixture.h"

// The file maintenance on the seams of a test: no window is made.
struct FilesFixture : SeamsFixture {
    FilesFixture()
        : files(seams.updaterFolder, queue) {}

    files::FileMaintenance files;
};
