#include "support/syslog_fill.h"

#include <string>

namespace tvtest {

void FillSyslog(TestDatabase &db, int rows) {
  db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<" + std::to_string(rows) +
          ") INSERT INTO syslog (msg_id,msg_timestamp,facility,severity,source_object_id,hostname,msg_tag,"
          "msg_text) SELECT i,1700000000+i,1,5,i%100,'host'||(i%100),'tag','message number '||i FROM n");
}

}  // namespace tvtest
