// Lists the product's entries in both uninstall lists of the machine and,
// given the single argument "true", deletes them. Always exits 0: it runs
// from uninstallers, which have nothing to do with a failure.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "walk_uninstall_key.h"

int main(int argc, char** argv) {
  // Exactly one argument and exactly "true"; anything else only reports.
  const bool doDelete = argc == 2 && strcmp(argv[1], "true") == 0;
  printf("Deleting NorvVPN from registry, delete:%d\n", doDelete ? 1 : 0);
  // A 64-bit program sees the native list; the 32-bit one is reached by its
  // explicit path, with no view flag.
  WalkUninstallKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                   "DisplayName", "NorvVPN", doDelete);
  WalkUninstallKey(HKEY_LOCAL_MACHINE,
                   "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                   "DisplayName", "NorvVPN", doDelete);
  return 0;
}
