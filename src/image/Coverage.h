// Colour coverage that keeps an existing output when nothing changed, and
// says why a run failed.
//
// BtreeImg::CoperturaU8 rewrites plane 1 of an image by colour rules into a
// one-plane image file; a run that changes no pixel writes nothing and
// removes an existing output file of another name, and a failure is only a
// 0. coverImage() runs the very same coverage (the same rules, the same
// result file, the same handling of the image's own file) but leaves an
// existing output as it was when no pixel changed, and reports what
// happened: whether a pixel changed, and the problem in words.
#ifndef BTREEIMG_IMAGE_COVERAGE_H_
#define BTREEIMG_IMAGE_COVERAGE_H_

#include "framework/CString.h"
#include "framework/Export.h"
#include "image/BtreeImg.h"
#include "image/CoverageRuleFile.h"
#include "image/ImageReader.h"

namespace btreeimg {

// Rewrites plane 1 of `image` by `rules` (see image/CoverageRuleFile.h) into
// the one-plane image file `output`, as BtreeImg::CoperturaU8 does:
//  - the result has the image's first block, made to describe one plane,
//    and plane 1's encoding; it holds plane 1 only;
//  - `output` may name the image's own file (through any name or link): the
//    result replaces the file `output` names (its temporary file named as
//    CoperturaU8 names it); an `output` that is another hard link of the
//    image's file gets the result, the image's own name keeps the image
//    (as with the reader's coverImage below).
// When a pixel's value changed (a rule whose substitute colour is its cover
// colour changes none, as with the reader's coverImage), the result
// replaces `output` through
// btreeimg::FileReplacement (written beside it, flushed, renamed over it in
// one step; its mode and a symbolic link kept), so a failure leaves `output`
// as it was. When no pixel changed (no rule matched any pixel), nothing is
// written: an existing `output` stays as it was and none is created.
//
// Returns 1 when the run was carried out; *changed (when not null) then
// tells whether a pixel's value changed. Returns 0 when the rules are not usable or
// the result could not be written; *problem (when not null) then says why,
// naming the file: "<rule file>: <rules' problem>" or the failure's text
// (describe() of its exception, which names the output). A run that
// returns 0 has written nothing. *changed is false and *problem empty
// unless set as described. Never throws: memory running out is a problem
// like the others ("out of memory").
// REQUIRES: `image` is not used by another thread during the call.
AFX_EXT_API int coverImage(BtreeImg& image, const CoverageRuleFile& rules,
                           const char* output, bool* changed = nullptr,
                           CString* problem = nullptr);
// The same with the rules read from the rule file `rules`.
AFX_EXT_API int coverImage(BtreeImg& image, const char* rules,
                           const char* output, bool* changed = nullptr,
                           CString* problem = nullptr);

// The same coverage for an image opened for reading only: plane 1's lines
// are read through `image` one at a time, as needed (a strict reader
// refuses a damaged line; a lenient one gives zeros where the file holds
// nothing). The result has the image's first block, made to describe one
// plane, and plane 1's encoding, as above, and replaces `output` through
// btreeimg::FileReplacement only when a pixel's value changed (a rule whose
// substitute colour is its cover colour changes none); `output` may name
// the image's own file (the reader goes on reading the file it opened).
//
// Returns the number of pixels of plane 1 that the rules changed (0:
// nothing was written). Throws, having written nothing, as the reader
// does: CInvalidArgException* when the rules are not usable (its text
// "<rule file>: <rules' problem>"), CFileException* when a line cannot be
// read (naming the image) or the result cannot be written (naming
// `output`, with the system's error), CMemoryException* when memory runs
// out.
// REQUIRES: `image` is not used by another thread during the call.
AFX_EXT_API ULONGLONG coverImage(ImageReader& image, const CoverageRuleFile& rules,
                                 const char* output);

// The same coverage through a reader, with a result that keeps every plane:
// plane 1 covered and every other plane's lines as `image` reads them,
// under the image's colour map. The result is a new image of the image's
// dimensions and planes written through btreeimg::ImageWriter (its version
// the one the format needs for them): the planes keep their encoding when
// they all share one, a packed plane turned raw only where its code would
// not fit a raw plane's room; mixed encodings are chosen plane by plane.
// Nothing is written when no pixel's value changed. Returns the number of
// pixels of plane 1 that the rules changed; throws as the one-plane
// coverImage above does.
// REQUIRES: `image` is not used by another thread during the call.
AFX_EXT_API ULONGLONG coverImageKeepingPlanes(ImageReader& image,
                                              const CoverageRuleFile& rules,
                                              const char* output);

}  // namespace btreeimg

#endif  // BTREEIMG_IMAGE_COVERAGE_H_
