// The process-wide state that tests change, restored when a scope ends,
// so that no test leaks its database or its options into the next.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "db/db.h"
#include "session/globals.h"
#include "support/recording_db.h"

namespace tvtest {

// Makes a handle the tool's current database (DbHandle, DbSyntax) for
// the scope.
class ScopedCurrentDatabase {
 public:
  ScopedCurrentDatabase(db_handle_t handle, int syntax) : handle_(DbHandle), syntax_(DbSyntax) {
    DbHandle = handle;
    DbSyntax = syntax;
  }
  ~ScopedCurrentDatabase() {
    DbHandle = handle_;
    DbSyntax = syntax_;
  }
  ScopedCurrentDatabase(const ScopedCurrentDatabase &) = delete;
  ScopedCurrentDatabase &operator=(const ScopedCurrentDatabase &) = delete;

 private:
  db_handle_t handle_;
  int syntax_;
};

// Saves every command-line option at construction and puts them back at
// destruction; in between a test sets what it needs.
class ScopedOptions {
 public:
  ScopedOptions()
      : traceMode_(TraceMode),
        forceRepair_(ForceRepair),
        ignoreSqlErrors_(IgnoreSqlErrors),
        guiMode_(GuiMode),
        checkCollectedData_(CheckCollectedData),
        tableType_(TableType) {}
  ~ScopedOptions() {
    TraceMode = traceMode_;
    ForceRepair = forceRepair_;
    IgnoreSqlErrors = ignoreSqlErrors_;
    GuiMode = guiMode_;
    CheckCollectedData = checkCollectedData_;
    TableType = tableType_;
  }
  ScopedOptions(const ScopedOptions &) = delete;
  ScopedOptions &operator=(const ScopedOptions &) = delete;

 private:
  bool traceMode_;
  bool forceRepair_;
  bool ignoreSqlErrors_;
  bool guiMode_;
  bool checkCollectedData_;
  MysqlTableType tableType_;
};

// A test on a statement-recording connection of a dialect that cannot
// run here: use(syntax) makes a fresh recording the current database.
class RecordedDialectTest : public ::testing::Test {
 protected:
  void use(int syntax) {
    current.reset();
    if (handle != nullptr) DBDisconnect(handle);
    recording = std::make_shared<Recording>();
    handle = OpenRecordingHandle(syntax, recording);
    current = std::make_unique<ScopedCurrentDatabase>(handle, syntax);
  }
  void TearDown() override {
    current.reset();
    if (handle != nullptr) DBDisconnect(handle);
    handle = nullptr;
  }
  ScopedOptions options;
  std::shared_ptr<Recording> recording;

 private:
  db_handle_t handle = nullptr;
  std::unique_ptr<ScopedCurrentDatabase> current;
};

}  // namespace tvtest
