#ifndef ZORVEX_BENCH_SUPPORT_H
#define ZORVEX_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "TestSupport.h"

// Data for the benchmarks, made on this machine with the tests' fixture writers: listing texts,
// dpkg admin directories, installer trees with their manifests and large product maps. Everything
// written to disk lives in temporary directories that are removed when the benchmark program
// ends; data that cannot be made ends the program with the reason.
namespace benchsupport {

// The three sizes of a benchmark, each ten times the one before, with a linear fit over them
// (the "_BigO" and "_RMS" rows) and times in microseconds.
void OneToHundred(benchmark::internal::Benchmark* benchmark);
void HundredToTenThousand(benchmark::internal::Benchmark* benchmark);
void ThousandToHundredThousand(benchmark::internal::Benchmark* benchmark);

// The description of generated package `index`: most are the package's own, every seventh is one
// of a few descriptions that several packages share, as the family's split packages do.
std::string Description(size_t index);

// Writes a dpkg admin directory into `dir` (which exists): `family` installed family packages and
// `others` installed packages of other vendors, interleaved.
void WriteDpkgAdminDir(const std::string& dir, size_t family, size_t others);

// A dpkg admin directory whose status file holds `packages` installed family packages.
class DpkgAdmin {
 public:
  explicit DpkgAdmin(size_t packages);
  const std::string& path() const { return dir_.path(); }

 private:
  testsupport::TempDir dir_;
};

// The dpkg admin directory of `packages` family packages, made once per program run.
const DpkgAdmin& SharedDpkgAdmin(size_t packages);

// What the library's listing command prints for the shared admin directory of `packages`
// packages: dpkg's own listing, run once, with the lines that its grep would keep.
const std::string& DpkgListing(size_t packages);

// Lists `admin` as the library's listing command does, but with dpkg-query started directly
// (no shell, no grep): the reference time for the same listing. Returns the bytes read.
size_t RunDpkgQuery(const DpkgAdmin& admin);

// `lines` lines as the library's rpm query prints them: name, version, architecture, summary and
// ":"-prefixed vendor, separated by TABs.
std::string RpmListing(size_t lines);

// Writes installer databases with their package caches and manifests below `dir`: `databases`
// cache directories that share `components` components between them (the remainder to the first
// ones), each component with its manifest; every twentieth component is not visible. Returns the
// cache directories, each ending in "/".
std::vector<std::string> WriteInstallerDatabases(const std::string& dir, size_t databases,
                                                 size_t components);

// An installer tree (above) in a directory of its own.
class InstallerTree {
 public:
  InstallerTree(size_t databases, size_t components);
  // The cache directories, each ending in "/", as BInstallerChecker::CachePaths holds them.
  const std::vector<std::string>& cachePaths() const { return cachePaths_; }

 private:
  testsupport::TempDir dir_;
  std::vector<std::string> cachePaths_;
};

// The installer tree of that shape, made once per program run.
const InstallerTree& SharedInstallerTree(size_t databases, size_t components);

// A product-map text of `products` packages in the Debian source's form, every package with its
// own description.
std::string PackageMapText(size_t products);

// A product-map text of `products` products in the installer source's form.
std::string InstallerMapText(size_t products);

}  // namespace benchsupport

#endif  // ZORVEX_BENCH_SUPPORT_H
