#pragma once

#include "db/database_steps.h"
#include "support/seams_fixture.h"

#include <memory>

// The database steps on the seams of a test: no window is made.
struct StepsFixture : SeamsFixture {
    explicit StepsFixture(const QString& registryBody = QString(),
                          const std::function<void(Seams&)>& adjustSeams = {})
        : SeamsFixture(registryBody, adjustSeams)
        , steps(std::make_unique<db::DatabaseSteps>(
              db::DatabaseSteps::Context{.log = activity,
                                         .dialogs = dialogs,
                                         .registry = seams.registry,
                                         .updaterFolder = seams.updaterFolder,
                                         .controls = controls})) {}

    std::unique_ptr<db::DatabaseSteps> steps;
};
