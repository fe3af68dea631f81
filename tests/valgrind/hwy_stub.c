// A stand-in for the SIMD helper library that libavcodec's JPEG XL decoder pulls in. Its start-up
// code probes the time-stamp counter with RDTSCP, which valgrind 3.19 advertises but cannot run,
// so no program linked to libavcodec starts under valgrind. The JPEG XL decoder is never used
// by avikit, so the entry points it would call only have to exist.
#include <stdlib.h>

#define HWY_ENTRY(name, symbol) \
  void name(void) __asm__(symbol); \
  void name(void) { abort(); }

HWY_ENTRY(hwy_delete_aligned_array,
          "_ZN3hwy14AlignedDeleter18DeleteAlignedArrayEPvPFvS1_S1_ES1_PFvS1_mE")
HWY_ENTRY(hwy_get_chosen_target, "_ZN3hwy15GetChosenTargetEv")
HWY_ENTRY(hwy_free_aligned_bytes, "_ZN3hwy16FreeAlignedBytesEPKvPFvPvS2_ES2_")
HWY_ENTRY(hwy_supported_targets, "_ZN3hwy16SupportedTargetsEv")
HWY_ENTRY(hwy_allocate_aligned_bytes, "_ZN3hwy20AllocateAlignedBytesEmPFPvS0_mES0_")
