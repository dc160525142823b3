// cover: colour coverage of plane 1 by a rule file, through the library's
// coverage. The input is read line by line through its reader (inspected,
// and held to the pixel limit, as every command's input is); the result
// replaces the output only when a pixel changed, so an existing output
// survives a run that changed nothing. The result keeps every plane of the
// input (plane 1 covered); --plane-1-only writes the library's one-plane
// result instead.
#include <iostream>
#include <memory>

#include "CommandLine.h"
#include "Commands.h"
#include "ImageReading.h"
#include "Failure.h"
#include "InputFiles.h"
#include "ImageWriting.h"
#include "image/Coverage.h"
#include "image/CoverageRuleFile.h"

namespace tool {

static int runCover(const std::string& file, const std::string& rules,
             const std::string& output, std::uint64_t maxPixels, bool planeOneOnly) {
  requireNamedOutput(output);
  // The result keeps every plane, so every plane must be sound; plane 1
  // alone needs only plane 1.
  InputImage input(file, Damaged::kRefuse, planeOneOnly ? 1 : 0);
  input.requireWithinLimit(maxPixels);
  requireRegularFile(rules);
  const btreeimg::CoverageRuleFile ruleFile(rules.c_str());
  if (!ruleFile.usable()) fail(kBadInput, rules + ": " + ruleFile.problem().GetString());
  const auto ruleCount = static_cast<unsigned>(ruleFile.rules().size());

  ULONGLONG changed = 0;
  try {
    changed = planeOneOnly
                  ? btreeimg::coverImage(input.reader(), ruleFile, output.c_str())
                  : btreeimg::coverImageKeepingPlanes(input.reader(), ruleFile, output.c_str());
  } catch (CFileException* e) {
    // The input cut short or damaged since it was inspected, or the output
    // not written.
    const bool reading =
        e->m_cause == CFileException::endOfFile || e->m_cause == CFileException::invalidFile;
    fail(reading ? kBadInput : kCannotWrite, takeMessage(e));
  } catch (CMemoryException*) {
    throw;  // the input needs more memory than there is, not the output's fault
  } catch (CException* e) {
    fail(kCannotWrite, output + ": " + takeMessage(e));
  }
  std::cout << file << ": " << counted(ruleCount, "rule", "rules");
  if (changed == 0) {
    std::cout << " changed nothing; " << output << " not written\n";
    return kOk;
  }
  std::cout << " changed " << counted(changed, "pixel", "pixels") << " of plane 1; written to "
            << output;
  if (input.planes() > 1) {
    std::cout << (planeOneOnly ? " (plane 1 only)" : " (the other planes as they were)");
  }
  std::cout << '\n';
  return kOk;
}

void addCover(CLI::App& app, Runner& run) {
  struct Options {
    std::string file, rules, output;
    std::uint64_t maxPixels = kPixelLimit;
    bool planeOneOnly = false;
  };
  auto o = std::make_shared<Options>();
  CLI::App* sub = addCommand(app, "cover",
                             "Colour coverage of plane 1 by the rules in "
                             "RULES (lines \"COLCOPER n\", \"COLTEST n\", "
                             "\"COLSOST n\"); says whether anything changed. "
                             "OUT is written only when something changed, "
                             "with every plane of FILE (plane 1 covered). A "
                             "damaged image is refused ('repack --lenient' "
                             "makes a sound copy of what the library reads).");
  sub->add_option("FILE", o->file, "image file")->required();
  sub->add_option("RULES", o->rules, "rule file")->required();
  sub->add_option("OUT", o->output, "image file to write (may be FILE)")->required();
  addMaxPixels(sub, o->maxPixels);
  sub->add_flag("--plane-1-only", o->planeOneOnly,
                "write a one-plane image of the covered plane 1 only");
  sub->callback([o, &run] {
    run = [o] {
      return runCover(o->file, o->rules, o->output, o->maxPixels, o->planeOneOnly);
    };
  });
}

}  // namespace tool
