// Starts the client (with the stand-ins and the development service) and the
// minimal window program alternately, and prints for each the time from
// process start to its first visible top-level window and its working set a
// moment later, with the client-to-minimal ratios. Timings come from one run
// side by side; the machine is shared, so only the ratios mean much.
#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <vector>
#include "support/test_support.h"

namespace {

struct Sample {
  double visibleMs;
  double workingSetKiB;
};

struct Search {
  DWORD processId;
  bool found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  RECT rect;
  if (owner == search->processId && IsWindowVisible(window) && GetWindowRect(window, &rect) &&
      rect.right - rect.left >= 300) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

bool Measure(const std::wstring& exe, const std::wstring& folder, Sample* sample) {
  ChildProcess child;
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!child.Start(exe, L"", {}, folder)) return false;
  Search search = {child.Id(), false};
  for (int i = 0; i < 2000 && !search.found; ++i) {
    EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    if (!search.found) Sleep(1);
  }
  QueryPerformanceCounter(&now);
  if (!search.found) return false;
  sample->visibleMs = 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  Sleep(1500);  // let the web view and the start-up requests settle
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(child.Handle(), &counters, sizeof counters);
  sample->workingSetKiB = static_cast<double>(counters.WorkingSetSize) / 1024.0;
  child.Kill();
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  const int runs = 5;
  RunFolder clientFolder;
  const std::wstring client = clientFolder.Copy(HostPathFromEnv("NORV_CLIENT_EXE"));
  clientFolder.Copy(HostPathFromEnv("NORV_WEBVIEW_STANDIN"), L"WebView2Loader.dll");
  clientFolder.Copy(HostPathFromEnv("NORV_WINBRAND_DLL"), L"winbrand.dll");
  RunFolder minimalFolder;
  const std::wstring minimal = minimalFolder.Copy(HostPathFromEnv("NORV_MINIMAL_EXE"));
  DevService service;
  if (!service.Start()) {
    fprintf(stderr, "the development service did not start\n");
    return 1;
  }
  std::vector<double> clientMs, clientKiB, minimalMs, minimalKiB;
  for (int i = 0; i < runs; ++i) {
    Sample sample;
    if (!Measure(minimal, minimalFolder.Path(), &sample)) return 1;
    minimalMs.push_back(sample.visibleMs);
    minimalKiB.push_back(sample.workingSetKiB);
    if (!Measure(client, clientFolder.Path(), &sample)) return 1;
    clientMs.push_back(sample.visibleMs);
    clientKiB.push_back(sample.workingSetKiB);
  }
  printf("median of %d runs each, alternating\n", runs);
  printf("time to visible window: client %.0f ms, minimal %.0f ms, ratio %.2f\n", Median(clientMs),
         Median(minimalMs), Median(clientMs) / Median(minimalMs));
  printf("working set:            client %.0f KiB, minimal %.0f KiB, ratio %.2f\n", Median(clientKiB),
         Median(minimalKiB), Median(clientKiB) / Median(minimalKiB));
  return 0;
}
