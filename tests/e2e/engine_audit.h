// What the engine suites hand to the secret audit after each request: every
// text the result carries (report text, reason, the request built, the reply)
// and the rows shown, which the next request clears. Header-only, for tests.
#pragma once

#include <string>

#include "engine/engine.h"
#include "report/result_list.h"
#include "request/credentials.h"
#include "tests/support/secret_audit.h"

namespace kestrune::engine {

// Adds the secret a request is about to be signed with, unless the audit
// already looks for it (or for a part of it).
inline void AuditSecretOf(testsupport::SecretAudit& audit,
                          const request::Credentials& credentials) {
  if (!audit.Shows(credentials.access_key_secret)) {
    audit.AddSecret(std::string(credentials.access_key_secret.view()));
  }
}

inline void AuditResult(const testsupport::SecretAudit& audit, const RequestResult& result,
                        const report::RecordingResultList& rows) {
  audit.CheckText("the report text", result.result_text);
  audit.CheckText("the reason given", result.detail);
  audit.CheckText("the action line", result.action_line);
  audit.CheckText("the request built", result.signed_request);
  audit.CheckText("the raw reply", result.reply.raw);
  audit.CheckText("the reply body", result.reply.body);
  for (const report::Row& row : rows.produced()) {
    audit.CheckText("a row's field", row.field);
    audit.CheckText("a row's info", row.info);
  }
}

}  // namespace kestrune::engine
