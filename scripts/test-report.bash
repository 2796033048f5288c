# Sourced by scripts/test (and its own test): the session bus the tests run on, and what a ctest run
# reports.

# The configuration of a session bus that listens in `folder`, for dbus-run-session --config-file.
# The session bus as Debian configures it listens in /tmp whatever TMPDIR says, and one that does
# not end cleanly leaves its socket there: the run's bus listens in a folder of the run's instead.
# Otherwise it is a session bus as usual: services started on demand from the usual folders, and
# everything allowed to the one user who can reach it.
session_bus_config() {
  local folder=$1
  case $folder in
    /*) ;;
    *) echo "session_bus_config: $folder is not an absolute path" >&2; return 1 ;;
  esac
  case $folder in
    *[\<\>\&\"\']*) echo "session_bus_config: $folder holds a character XML would take" >&2; return 1 ;;
  esac
  cat <<CONFIG
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:dir=$folder</listen>
  <auth>EXTERNAL</auth>
  <standard_session_servicedirs/>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
  <limit name="max_incoming_bytes">1000000000</limit>
  <limit name="max_outgoing_bytes">1000000000</limit>
  <limit name="max_message_size">1000000000</limit>
  <limit name="service_start_timeout">120000</limit>
  <limit name="auth_timeout">240000</limit>
  <limit name="max_completed_connections">100000</limit>
  <limit name="max_incomplete_connections">10000</limit>
  <limit name="max_connections_per_user">100000</limit>
  <limit name="max_pending_service_starts">10000</limit>
  <limit name="max_names_per_connection">50000</limit>
  <limit name="max_match_rules_per_connection">50000</limit>
  <limit name="max_replies_per_connection">50000</limit>
</busconfig>
CONFIG
}

# Counts the tests of a ctest run from the JUnit file it wrote (ctest --output-junit): sets
# ctest_passed, ctest_skipped and ctest_failed, and adds "reason<TAB>test" to the array ctest_skips
# for each test that skipped, with the reason the test gave (GTEST_SKIP() << "why"). ctest's own
# line counts a skipped test among those passed. False when the file cannot be read.
ctest_tally() {
  local results=$1 outcome name reason
  ctest_passed=0 ctest_skipped=0 ctest_failed=0
  [ -s "$results" ] || return 1
  while IFS=$'\t' read -r outcome name reason; do
    case $outcome in
      passed) ctest_passed=$((ctest_passed + 1)) ;;
      failed) ctest_failed=$((ctest_failed + 1)) ;;
      skipped)
        ctest_skipped=$((ctest_skipped + 1))
        ctest_skips+=("$reason"$'\t'"$name")
        ;;
      *) return 1 ;;
    esac
  done < <(python3 - "$results" <<'PYTHON' || echo unreadable
import re, sys, xml.etree.ElementTree as tree

def line(text):
    return ' '.join(text.split()) or '?'

def skipped_by_the_test(skipped):
    # ctest marks a test it could not start (its program missing) "skipped" too.
    said = skipped.get('message', '') if skipped is not None else ''
    return said in ('SKIP_REGULAR_EXPRESSION_MATCHED', 'Disabled') or said.startswith('SKIP_RETURN_CODE')

for case in tree.parse(sys.argv[1]).getroot().iter('testcase'):
    name = line(case.get('name', ''))
    skipped = case.find('skipped')
    if skipped_by_the_test(skipped):
        # GoogleTest prints "file:line: Skipped", then the reason the test gave, if any.
        said = re.search(r': Skipped\n(?!\[  SKIPPED \])(.+)', case.findtext('system-out') or '')
        reason = said.group(1) if said else 'no reason given (ctest: %s)' % skipped.get('message', '?')
        print('skipped', name, line(reason), sep='\t')
    elif skipped is not None or case.find('failure') is not None or case.get('status') not in ('run', 'passed'):
        print('failed', name, '', sep='\t')
    else:
        print('passed', name, '', sep='\t')
PYTHON
  )
}

# The reasons in ctest_skips, one line each: "reason (count: test, test, ...)".
ctest_skip_reasons() {
  [ "${#ctest_skips[@]}" -gt 0 ] || return 0
  printf '%s\n' "${ctest_skips[@]}" | LC_ALL=C sort | awk -F '\t' '
    $1 != reason { if (NR > 1) print reason " (" count ": " names ")"; reason = $1; count = 0; names = "" }
    { count++; names = names (count > 1 ? ", " : "") $2 }
    END { print reason " (" count ": " names ")" }'
}
