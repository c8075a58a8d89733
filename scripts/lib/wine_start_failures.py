"""Prints the failed tests of a CTest JUnit report (ctest --output-junit) whose
output shows that Wine did not start a program, one name per line.

Wine very rarely fails to start a process inside Wine itself with error 1359
(ERROR_INTERNAL_ERROR), and now and then a test program ends under Wine
before it has printed anything, though every test program prints a first line
as it starts. Such a test deserves one more run, while any other failure must
stand.

    wine_start_failures.py REPORT.xml
"""
import re
import sys
import xml.etree.ElementTree as ElementTree

# "error 1359", "error: 1359", "CreateProcess: 1359", "(error code 1359)",
# Wine's own "err:..." lines, or the error's name. Not a bare 1359, which may
# be a duration ("(1359 ms)") or a process id.
WINE_START_ERROR = re.compile(
    r"(?i)(\b(error|CreateProcess\w*)\D{0,24}\b1359\b|^err:.*\b1359\b|ERROR_INTERNAL_ERROR)",
    re.MULTILINE)


def shows_wine_start_error(output):
    return WINE_START_ERROR.search(output) is not None


def failed_with_wine_start_error(report):
    names = []
    for case in ElementTree.parse(report).getroot().iter("testcase"):
        if case.get("status") != "fail":
            continue
        output = "".join(element.text or "" for element in case.iter()
                         if element.tag in ("system-out", "system-err"))
        output += "".join(failure.get("message", "") for failure in case.iter("failure"))
        if not output.strip() or shows_wine_start_error(output):
            names.append(case.get("name"))
    return names


if __name__ == "__main__":
    for name in failed_with_wine_start_error(sys.argv[1]):
        print(name)
