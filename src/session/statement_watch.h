// A narrow hook on the road that every statement which may change the
// database takes to the engine (SendSql). One caller at a time arms it
// for a while: the upgrade, to account for each statement of a step where
// schema statements commit at once.
#pragma once

class StatementWatch {
 public:
  enum class Verdict {
    kSend,    // the statement goes to the engine
    kSkip,    // its effect is in the database already: success, not sent
    kRefuse,  // failure, not sent and not reported (the watch has said why)
  };
  virtual ~StatementWatch() = default;
  virtual Verdict beforeSending(const char *statement) = 0;
  // Returns the outcome the caller sees: a failure that the watch knows
  // to mean "done already" turns into success, and is then not reported.
  // errorCode is the engine's own number of the failure (0: none).
  virtual bool afterSending(const char *statement, bool ok, int errorCode) = 0;
  // A statement that the caller does not send because the database has
  // its effect already (a variable inserted only when absent).
  virtual void passOver(const char *statement) = 0;
  // Statements that read the catalogue and bring it to the same end
  // however many of them an earlier run sent, counted as one unit named
  // by label. Returns true when an interrupted run is known to have
  // applied the whole group: the caller passes over it, reads included.
  virtual bool beginRepeatableGroup(const char *label) = 0;
  virtual void endRepeatableGroup() = 0;
};

// The armed watch, or null.
StatementWatch *ArmedStatementWatch();

// Arms a watch for its own lifetime; watches do not nest.
class StatementWatchArming {
 public:
  explicit StatementWatchArming(StatementWatch &watch);
  ~StatementWatchArming();
  StatementWatchArming(const StatementWatchArming &) = delete;
  StatementWatchArming &operator=(const StatementWatchArming &) = delete;
};

// Marks the statements sent during its lifetime as one repeatable group
// for the armed watch, if any.
class RepeatableStatements {
 public:
  explicit RepeatableStatements(const char *label);
  ~RepeatableStatements();
  RepeatableStatements(const RepeatableStatements &) = delete;
  RepeatableStatements &operator=(const RepeatableStatements &) = delete;
  // Whether an interrupted run applied the whole group (never without an
  // armed watch): its work is done, and its reads would see the result.
  bool applied() const { return applied_; }

 private:
  bool applied_ = false;
};
