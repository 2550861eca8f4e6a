#include "support/recording_db.h"

#include "db/db_driver.h"

namespace tvtest {
namespace {

class RecordingConnection final : public DbConnection {
 public:
  explicit RecordingConnection(std::shared_ptr<Recording> recording) : recording_(std::move(recording)) {}

  bool execute(const char *query, std::string &error) override { return record(query, error); }

  bool select(const char *query, DbResultData &result, std::string &error) override {
    if (!record(query, error)) return false;
    for (const auto &[key, rows] : recording_->answers) {
      if (std::string(query).find(key) == std::string::npos) continue;
      result.columns = rows.empty() ? 0 : static_cast<int>(rows[0].size());
      result.rows = static_cast<int>(rows.size());
      for (const auto &row : rows)
        for (const std::string &cell : row) result.addCell(cell.data(), cell.size());
      break;
    }
    return true;
  }

  std::unique_ptr<DbCursor> openCursor(const char *, std::string &error) override {
    error = "not recorded";
    return nullptr;
  }
  std::unique_ptr<DbStatement> prepare(const char *, std::string &error) override {
    error = "not recorded";
    return nullptr;
  }
  bool begin(std::string &error) override { return record("BEGIN", error); }
  bool commit(std::string &error) override { return record("COMMIT", error); }
  bool rollback(std::string &error) override { return record("ROLLBACK", error); }

 private:
  bool record(const char *statement, std::string &error) {
    recording_->statements.emplace_back(statement);
    if (!recording_->failWhen.empty() &&
        recording_->statements.back().find(recording_->failWhen) != std::string::npos) {
      error = "recorded failure";
      return false;
    }
    return true;
  }
  std::shared_ptr<Recording> recording_;
};

}  // namespace

db_handle_t OpenRecordingHandle(int syntax, std::shared_ptr<Recording> recording) {
  return DBAttachConnection(syntax, std::make_unique<RecordingConnection>(std::move(recording)));
}

}  // namespace tvtest
