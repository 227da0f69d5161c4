#!/usr/bin/env bash
# Runs a test program with the addresses of the simulators that ctest's
# fixtures started (sim-fixture.sh), for tests that talk to one:
#   test-env.sh FIXTURES_DIR PROGRAM [ARGS...]
# FIXTURES_DIR/sim: the plain simulator -> KESTRUNE_TEST_SIM (host:port) and
#   KESTRUNE_TEST_SIM_LOG (its request log, for the secret audit);
# FIXTURES_DIR/sim-fleet: the simulator with a hundred instances ->
#   KESTRUNE_TEST_FLEET_SIM (host:port);
# FIXTURES_DIR/sim-tls: the TLS simulator -> KESTRUNE_TEST_TLS
#   (localhost:port), KESTRUNE_TEST_TLS_CA (the CA path, the last word of its
#   second line) and KESTRUNE_TEST_TLS_OTHER_CA (a CA beside it that signed nothing
#   the simulator shows).
# A fixture that is not running sets nothing, so a test that needs it fails
# saying what is missing; listing a program's tests needs none.
set -euo pipefail
fixtures=$1
shift
if [ -s "$fixtures/sim/address" ]; then
  export KESTRUNE_TEST_SIM
  KESTRUNE_TEST_SIM=$(cat "$fixtures/sim/address")
  export KESTRUNE_TEST_SIM_LOG="$fixtures/sim/log"
fi
if [ -s "$fixtures/sim-fleet/address" ]; then
  export KESTRUNE_TEST_FLEET_SIM
  KESTRUNE_TEST_FLEET_SIM=$(cat "$fixtures/sim-fleet/address")
fi
if [ -s "$fixtures/sim-tls/address" ]; then
  address=$(cat "$fixtures/sim-tls/address")
  export KESTRUNE_TEST_TLS="localhost:${address##*:}"
  export KESTRUNE_TEST_TLS_CA
  KESTRUNE_TEST_TLS_CA=$(awk 'NR == 2 { print $NF }' "$fixtures/sim-tls/stdout")
  export KESTRUNE_TEST_TLS_OTHER_CA
  KESTRUNE_TEST_TLS_OTHER_CA="$(dirname "$KESTRUNE_TEST_TLS_CA")/other-ca.pem"
fi
exec "$@"
