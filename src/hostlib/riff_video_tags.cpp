#include "hostlib/riff_video_tags.h"

#include <array>
#include <cctype>
#include <vector>

#include "platform/vfw.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace hostlib::detail {
namespace {

using platform::fourcc;

// The AVI video tag table of libavformat (riff.c, ff_codec_bmp_tags), entry for entry and in its
// order; the codec ids are named as libavcodec names them. tests/hostlib/riff_video_tags_test.cpp
// checks every FOURCC against the libavformat on the build machine.
constexpr std::array<RiffVideoTag, 442> kTags = {{
    {"h264", fourcc("H264")},         {"h264", fourcc("h264")},
    {"h264", fourcc("X264")},         {"h264", fourcc("x264")},
    {"h264", fourcc("avc1")},         {"h264", fourcc("DAVC")},
    {"h264", fourcc("SMV2")},         {"h264", fourcc("VSSH")},
    {"h264", fourcc("Q264")},         {"h264", fourcc("V264")},
    {"h264", fourcc("GAVC")},         {"h264", fourcc("UMSV")},
    {"h264", fourcc("tshd")},         {"h264", fourcc("INMC")},
    {"h263", fourcc("H263")},         {"h263", fourcc("X263")},
    {"h263", fourcc("T263")},         {"h263", fourcc("L263")},
    {"h263", fourcc("VX1K")},         {"h263", fourcc("ZyGo")},
    {"h263", fourcc("M263")},         {"h263", fourcc("lsvm")},
    {"h263p", fourcc("H263")},        {"h263i", fourcc("I263")},
    {"h261", fourcc("H261")},         {"h263", fourcc("U263")},
    {"h263", fourcc("VSM4")},         {"mpeg4", fourcc("FMP4")},
    {"mpeg4", fourcc("DIVX")},        {"mpeg4", fourcc("DX50")},
    {"mpeg4", fourcc("XVID")},        {"mpeg4", fourcc("MP4S")},
    {"mpeg4", fourcc("M4S2")},        {"mpeg4", 0x00000004u},
    {"mpeg4", fourcc("ZMP4")},        {"mpeg4", fourcc("DIV1")},
    {"mpeg4", fourcc("BLZ0")},        {"mpeg4", fourcc("mp4v")},
    {"mpeg4", fourcc("UMP4")},        {"mpeg4", fourcc("WV1F")},
    {"mpeg4", fourcc("SEDG")},        {"mpeg4", fourcc("RMP4")},
    {"mpeg4", fourcc("3IV2")},        {"mpeg4", fourcc("WAWV")},
    {"mpeg4", fourcc("FFDS")},        {"mpeg4", fourcc("FVFW")},
    {"mpeg4", fourcc("DCOD")},        {"mpeg4", fourcc("MVXM")},
    {"mpeg4", fourcc("PM4V")},        {"mpeg4", fourcc("SMP4")},
    {"mpeg4", fourcc("DXGM")},        {"mpeg4", fourcc("VIDM")},
    {"mpeg4", fourcc("M4T3")},        {"mpeg4", fourcc("GEOX")},
    {"mpeg4", fourcc("G264")},        {"mpeg4", fourcc("HDX4")},
    {"mpeg4", fourcc("DM4V")},        {"mpeg4", fourcc("DMK2")},
    {"mpeg4", fourcc("DYM4")},        {"mpeg4", fourcc("DIGI")},
    {"mpeg4", fourcc("EPHV")},        {"mpeg4", fourcc("EM4A")},
    {"mpeg4", fourcc("M4CC")},        {"mpeg4", fourcc("SN40")},
    {"mpeg4", fourcc("VSPX")},        {"mpeg4", fourcc("ULDX")},
    {"mpeg4", fourcc("GEOV")},        {"mpeg4", fourcc("SIPP")},
    {"mpeg4", fourcc("SM4V")},        {"mpeg4", fourcc("XVIX")},
    {"mpeg4", fourcc("DreX")},        {"mpeg4", fourcc("QMP4")},
    {"mpeg4", fourcc("PLV1")},        {"mpeg4", fourcc("GLV4")},
    {"mpeg4", fourcc("GMP4")},        {"mpeg4", fourcc("MNM4")},
    {"mpeg4", fourcc("GTM4")},        {"msmpeg4v3", fourcc("MP43")},
    {"msmpeg4v3", fourcc("DIV3")},    {"msmpeg4v3", fourcc("MPG3")},
    {"msmpeg4v3", fourcc("DIV5")},    {"msmpeg4v3", fourcc("DIV6")},
    {"msmpeg4v3", fourcc("DIV4")},    {"msmpeg4v3", fourcc("DVX3")},
    {"msmpeg4v3", fourcc("AP41")},    {"msmpeg4v3", fourcc("COL1")},
    {"msmpeg4v3", fourcc("COL0")},    {"msmpeg4v2", fourcc("MP42")},
    {"msmpeg4v2", fourcc("DIV2")},    {"msmpeg4v1", fourcc("MPG4")},
    {"msmpeg4v1", fourcc("MP41")},    {"wmv1", fourcc("WMV1")},
    {"wmv2", fourcc("WMV2")},         {"wmv2", fourcc("GXVE")},
    {"dvvideo", fourcc("dvsd")},      {"dvvideo", fourcc("dvhd")},
    {"dvvideo", fourcc("dvh1")},      {"dvvideo", fourcc("dvsl")},
    {"dvvideo", fourcc("dv25")},      {"dvvideo", fourcc("dv50")},
    {"dvvideo", fourcc("cdvc")},      {"dvvideo", fourcc("CDVH")},
    {"dvvideo", fourcc("CDV5")},      {"dvvideo", fourcc("dvc ")},
    {"dvvideo", fourcc("dvcs")},      {"dvvideo", fourcc("dvh1")},
    {"dvvideo", fourcc("dvis")},      {"dvvideo", fourcc("pdvc")},
    {"dvvideo", fourcc("SL25")},      {"dvvideo", fourcc("SLDV")},
    {"dvvideo", fourcc("AVd1")},      {"mpeg1video", fourcc("mpg1")},
    {"mpeg2video", fourcc("mpg2")},   {"mpeg2video", fourcc("MPEG")},
    {"mpeg1video", fourcc("PIM1")},   {"mpeg2video", fourcc("PIM2")},
    {"mpeg1video", fourcc("VCR2")},   {"mpeg1video", 0x10000001u},
    {"mpeg2video", 0x10000002u},      {"mpeg4", 0x10000004u},
    {"mpeg2video", fourcc("DVR ")},   {"mpeg2video", fourcc("MMES")},
    {"mpeg2video", fourcc("LMP2")},   {"mpeg2video", fourcc("slif")},
    {"mpeg2video", fourcc("EM2V")},   {"mpeg2video", fourcc("M701")},
    {"mpeg2video", fourcc("M702")},   {"mpeg2video", fourcc("M703")},
    {"mpeg2video", fourcc("M704")},   {"mpeg2video", fourcc("M705")},
    {"mpeg2video", fourcc("mpgv")},   {"mpeg1video", fourcc("BW10")},
    {"mpeg1video", fourcc("XMPG")},   {"mjpeg", fourcc("MJPG")},
    {"mjpeg", fourcc("MSC2")},        {"mjpeg", fourcc("LJPG")},
    {"mjpeg", fourcc("dmb1")},        {"mjpeg", fourcc("mjpa")},
    {"mjpeg", fourcc("JR24")},        {"ljpeg", fourcc("LJPG")},
    {"mjpeg", fourcc("JPGL")},        {"jpegls", fourcc("MJLS")},
    {"jpegls", fourcc("MJPG")},       {"mjpeg", fourcc("MJLS")},
    {"mjpeg", fourcc("jpeg")},        {"mjpeg", fourcc("IJPG")},
    {"avrn", fourcc("AVRn")},         {"mjpeg", fourcc("ACDV")},
    {"mjpeg", fourcc("QIVG")},        {"mjpeg", fourcc("SLMJ")},
    {"mjpeg", fourcc("CJPG")},        {"mjpeg", fourcc("IJLV")},
    {"mjpeg", fourcc("MVJP")},        {"mjpeg", fourcc("AVI1")},
    {"mjpeg", fourcc("AVI2")},        {"mjpeg", fourcc("MTSJ")},
    {"mjpeg", fourcc("ZJPG")},        {"mjpeg", fourcc("MMJP")},
    {"huffyuv", fourcc("HFYU")},      {"ffvhuff", fourcc("FFVH")},
    {"cyuv", fourcc("CYUV")},         {"rawvideo", 0x00000000u},
    {"rawvideo", 0x00000003u},        {"rawvideo", fourcc("I420")},
    {"rawvideo", fourcc("YUY2")},     {"rawvideo", fourcc("Y422")},
    {"rawvideo", fourcc("V422")},     {"rawvideo", fourcc("YUNV")},
    {"rawvideo", fourcc("UYNV")},     {"rawvideo", fourcc("UYNY")},
    {"rawvideo", fourcc("uyv1")},     {"rawvideo", fourcc("2Vu1")},
    {"rawvideo", fourcc("2vuy")},     {"rawvideo", fourcc("yuvs")},
    {"rawvideo", fourcc("yuv2")},     {"rawvideo", fourcc("P422")},
    {"rawvideo", fourcc("YV12")},     {"rawvideo", fourcc("YV16")},
    {"rawvideo", fourcc("YV24")},     {"rawvideo", fourcc("UYVY")},
    {"rawvideo", fourcc("VYUY")},     {"rawvideo", fourcc("IYUV")},
    {"rawvideo", fourcc("Y800")},     {"rawvideo", fourcc("Y8  ")},
    {"rawvideo", fourcc("HDYC")},     {"rawvideo", fourcc("YVU9")},
    {"rawvideo", fourcc("VDTZ")},     {"rawvideo", fourcc("Y411")},
    {"rawvideo", fourcc("NV12")},     {"rawvideo", fourcc("NV21")},
    {"rawvideo", fourcc("Y41B")},     {"rawvideo", fourcc("Y42B")},
    {"rawvideo", fourcc("YUV9")},     {"rawvideo", fourcc("YVU9")},
    {"rawvideo", fourcc("auv2")},     {"rawvideo", fourcc("YVYU")},
    {"rawvideo", fourcc("YUYV")},     {"rawvideo", fourcc("I410")},
    {"rawvideo", fourcc("I411")},     {"rawvideo", fourcc("I422")},
    {"rawvideo", fourcc("I440")},     {"rawvideo", fourcc("I444")},
    {"rawvideo", fourcc("J420")},     {"rawvideo", fourcc("J422")},
    {"rawvideo", fourcc("J440")},     {"rawvideo", fourcc("J444")},
    {"rawvideo", fourcc("YUVA")},     {"rawvideo", fourcc("I40A")},
    {"rawvideo", fourcc("I42A")},     {"rawvideo", fourcc("RGB2")},
    {"rawvideo", fourcc("RV15")},     {"rawvideo", fourcc("RV16")},
    {"rawvideo", fourcc("RV24")},     {"rawvideo", fourcc("RV32")},
    {"rawvideo", fourcc("RGBA")},     {"rawvideo", fourcc("AV32")},
    {"rawvideo", fourcc("GREY")},     {"rawvideo", fourcc("I09L")},
    {"rawvideo", fourcc("I09B")},     {"rawvideo", fourcc("I29L")},
    {"rawvideo", fourcc("I29B")},     {"rawvideo", fourcc("I49L")},
    {"rawvideo", fourcc("I49B")},     {"rawvideo", fourcc("I0AL")},
    {"rawvideo", fourcc("I0AB")},     {"rawvideo", fourcc("I2AL")},
    {"rawvideo", fourcc("I2AB")},     {"rawvideo", fourcc("I4AL")},
    {"rawvideo", fourcc("I4AB")},     {"rawvideo", fourcc("I4FL")},
    {"rawvideo", fourcc("I4FB")},     {"rawvideo", fourcc("I0CL")},
    {"rawvideo", fourcc("I0CB")},     {"rawvideo", fourcc("I2CL")},
    {"rawvideo", fourcc("I2CB")},     {"rawvideo", fourcc("I4CL")},
    {"rawvideo", fourcc("I4CB")},     {"rawvideo", fourcc("I0FL")},
    {"rawvideo", fourcc("I0FB")},     {"frwu", fourcc("FRWU")},
    {"r10k", fourcc("R10k")},         {"r210", fourcc("r210")},
    {"v210", fourcc("v210")},         {"v210", fourcc("C210")},
    {"v308", fourcc("v308")},         {"v408", fourcc("v408")},
    {"ayuv", fourcc("AYUV")},         {"v410", fourcc("v410")},
    {"yuv4", fourcc("yuv4")},         {"indeo3", fourcc("IV31")},
    {"indeo3", fourcc("IV32")},       {"indeo4", fourcc("IV41")},
    {"indeo5", fourcc("IV50")},       {"vp3", fourcc("VP31")},
    {"vp3", fourcc("VP30")},          {"vp4", fourcc("VP40")},
    {"vp5", fourcc("VP50")},          {"vp6", fourcc("VP60")},
    {"vp6", fourcc("VP61")},          {"vp6", fourcc("VP62")},
    {"vp6a", fourcc("VP6A")},         {"vp6f", fourcc("VP6F")},
    {"vp6f", fourcc("FLV4")},         {"vp7", fourcc("VP70")},
    {"vp7", fourcc("VP71")},          {"vp8", fourcc("VP80")},
    {"vp9", fourcc("VP90")},          {"asv1", fourcc("ASV1")},
    {"asv2", fourcc("ASV2")},         {"vcr1", fourcc("VCR1")},
    {"ffv1", fourcc("FFV1")},         {"xan_wc4", fourcc("Xxan")},
    {"mimic", fourcc("LM20")},        {"msrle", fourcc("mrle")},
    {"msrle", 0x00000001u},           {"msrle", 0x00000002u},
    {"msvideo1", fourcc("MSVC")},     {"msvideo1", fourcc("msvc")},
    {"msvideo1", fourcc("CRAM")},     {"msvideo1", fourcc("cram")},
    {"msvideo1", fourcc("WHAM")},     {"msvideo1", fourcc("wham")},
    {"cinepak", fourcc("cvid")},      {"truemotion1", fourcc("DUCK")},
    {"truemotion1", fourcc("PVEZ")},  {"mszh", fourcc("MSZH")},
    {"zlib", fourcc("ZLIB")},         {"snow", fourcc("SNOW")},
    {"4xm", fourcc("4XMV")},          {"flv1", fourcc("FLV1")},
    {"flv1", fourcc("S263")},         {"flashsv", fourcc("FSV1")},
    {"svq1", fourcc("svq1")},         {"tscc", fourcc("tscc")},
    {"ulti", fourcc("ULTI")},         {"vixl", fourcc("VIXL")},
    {"qpeg", fourcc("QPEG")},         {"qpeg", fourcc("Q1.0")},
    {"qpeg", fourcc("Q1.1")},         {"wmv3", fourcc("WMV3")},
    {"wmv3image", fourcc("WMVP")},    {"vc1", fourcc("WVC1")},
    {"vc1", fourcc("WMVA")},          {"vc1image", fourcc("WVP2")},
    {"loco", fourcc("LOCO")},         {"wnv1", fourcc("WNV1")},
    {"wnv1", fourcc("YUV8")},         {"aasc", fourcc("AAS4")},
    {"aasc", fourcc("AASC")},         {"indeo2", fourcc("RT21")},
    {"fraps", fourcc("FPS1")},        {"theora", fourcc("theo")},
    {"truemotion2", fourcc("TM20")},  {"truemotion2rt", fourcc("TR20")},
    {"cscd", fourcc("CSCD")},         {"zmbv", fourcc("ZMBV")},
    {"kmvc", fourcc("KMVC")},         {"cavs", fourcc("CAVS")},
    {"avs2", fourcc("AVS2")},         {"jpeg2000", fourcc("mjp2")},
    {"jpeg2000", fourcc("MJ2C")},     {"jpeg2000", fourcc("LJ2C")},
    {"jpeg2000", fourcc("LJ2K")},     {"jpeg2000", fourcc("IPJ2")},
    {"jpeg2000", fourcc("AVj2")},     {"vmnc", fourcc("VMnc")},
    {"targa", fourcc("tga ")},        {"png", fourcc("MPNG")},
    {"png", fourcc("PNG1")},          {"png", fourcc("png ")},
    {"cljr", fourcc("CLJR")},         {"dirac", fourcc("drac")},
    {"rpza", fourcc("azpr")},         {"rpza", fourcc("RPZA")},
    {"rpza", fourcc("rpza")},         {"sp5x", fourcc("SP54")},
    {"aura", fourcc("AURA")},         {"aura2", fourcc("AUR2")},
    {"dpx", fourcc("dpx ")},          {"kgv1", fourcc("KGV1")},
    {"lagarith", fourcc("LAGS")},     {"amv", fourcc("AMVF")},
    {"utvideo", fourcc("ULRA")},      {"utvideo", fourcc("ULRG")},
    {"utvideo", fourcc("ULY0")},      {"utvideo", fourcc("ULY2")},
    {"utvideo", fourcc("ULY4")},      {"utvideo", fourcc("ULH0")},
    {"utvideo", fourcc("ULH2")},      {"utvideo", fourcc("ULH4")},
    {"utvideo", fourcc("UQY0")},      {"utvideo", fourcc("UQY2")},
    {"utvideo", fourcc("UQRA")},      {"utvideo", fourcc("UQRG")},
    {"utvideo", fourcc("UMY2")},      {"utvideo", fourcc("UMH2")},
    {"utvideo", fourcc("UMY4")},      {"utvideo", fourcc("UMH4")},
    {"utvideo", fourcc("UMRA")},      {"utvideo", fourcc("UMRG")},
    {"vble", fourcc("VBLE")},         {"escape130", fourcc("E130")},
    {"dxtory", fourcc("xtor")},       {"zerocodec", fourcc("ZECO")},
    {"y41p", fourcc("Y41P")},         {"flic", fourcc("AFLC")},
    {"mss1", fourcc("MSS1")},         {"msa1", fourcc("MSA1")},
    {"tscc2", fourcc("TSC2")},        {"mts2", fourcc("MTS2")},
    {"cllc", fourcc("CLLC")},         {"mss2", fourcc("MSS2")},
    {"svq3", fourcc("SVQ3")},         {"012v", fourcc("012v")},
    {"012v", fourcc("a12v")},         {"g2m", fourcc("G2M2")},
    {"g2m", fourcc("G2M3")},          {"g2m", fourcc("G2M4")},
    {"g2m", fourcc("G2M5")},          {"fic", fourcc("FICV")},
    {"hqx", fourcc("CHQX")},          {"tdsc", fourcc("TDSC")},
    {"hq_hqa", fourcc("CUVC")},       {"rv40", fourcc("RV40")},
    {"screenpresso", fourcc("SPV1")}, {"rscc", fourcc("RSCC")},
    {"rscc", fourcc("ISCC")},         {"cfhd", fourcc("CFHD")},
    {"m101", fourcc("M101")},         {"m101", fourcc("M102")},
    {"magicyuv", fourcc("MAGY")},     {"magicyuv", fourcc("M8RG")},
    {"magicyuv", fourcc("M8RA")},     {"magicyuv", fourcc("M8G0")},
    {"magicyuv", fourcc("M8Y0")},     {"magicyuv", fourcc("M8Y2")},
    {"magicyuv", fourcc("M8Y4")},     {"magicyuv", fourcc("M8YA")},
    {"magicyuv", fourcc("M0RA")},     {"magicyuv", fourcc("M0RG")},
    {"magicyuv", fourcc("M0G0")},     {"magicyuv", fourcc("M0Y0")},
    {"magicyuv", fourcc("M0Y2")},     {"magicyuv", fourcc("M0Y4")},
    {"magicyuv", fourcc("M2RA")},     {"magicyuv", fourcc("M2RG")},
    {"ylc", fourcc("YLC0")},          {"speedhq", fourcc("SHQ0")},
    {"speedhq", fourcc("SHQ1")},      {"speedhq", fourcc("SHQ2")},
    {"speedhq", fourcc("SHQ3")},      {"speedhq", fourcc("SHQ4")},
    {"speedhq", fourcc("SHQ5")},      {"speedhq", fourcc("SHQ7")},
    {"speedhq", fourcc("SHQ9")},      {"fmvc", fourcc("FMVC")},
    {"scpr", fourcc("SCPR")},         {"clearvideo", fourcc("UCOD")},
    {"av1", fourcc("AV01")},          {"mscc", fourcc("MSCC")},
    {"srgc", fourcc("SRGC")},         {"imm4", fourcc("IMM4")},
    {"prosumer", fourcc("BT20")},     {"mwsc", fourcc("MWSC")},
    {"wcmv", fourcc("WCMV")},         {"rasc", fourcc("RASC")},
    {"hymt", fourcc("HYMT")},         {"arbc", fourcc("ARBC")},
    {"agm", fourcc("AGM0")},          {"agm", fourcc("AGM1")},
    {"agm", fourcc("AGM2")},          {"agm", fourcc("AGM3")},
    {"agm", fourcc("AGM4")},          {"agm", fourcc("AGM5")},
    {"agm", fourcc("AGM6")},          {"agm", fourcc("AGM7")},
    {"lscr", fourcc("LSCR")},         {"imm5", fourcc("IMM5")},
    {"mvdv", fourcc("MVDV")},         {"mvha", fourcc("MVHA")},
    {"mv30", fourcc("MV30")},         {"notchlc", fourcc("nlc1")},
}};

const std::vector<int>& codec_ids() {
  static const std::vector<int> ids = [] {
    std::vector<int> out;
    out.reserve(kTags.size());
    for (const RiffVideoTag& t : kTags) {
      const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(t.codec);
      out.push_back(d != nullptr ? static_cast<int>(d->id) : static_cast<int>(AV_CODEC_ID_NONE));
    }
    return out;
  }();
  return ids;
}

}  // namespace

std::span<const RiffVideoTag> riff_video_tags() { return kTags; }

int riff_tag_codec_id(const RiffVideoTag& tag) {
  return codec_ids()[static_cast<std::size_t>(&tag - kTags.data())];
}

int riff_codec_for_fourcc(std::uint32_t v) {
  const std::vector<int>& ids = codec_ids();
  for (std::size_t i = 0; i < kTags.size(); ++i) {
    if (kTags[i].fourcc == v && ids[i] != AV_CODEC_ID_NONE) return ids[i];
  }
  const std::uint32_t u = platform::upper_fourcc(v);
  for (std::size_t i = 0; i < kTags.size(); ++i) {
    if (platform::upper_fourcc(kTags[i].fourcc) == u && ids[i] != AV_CODEC_ID_NONE) return ids[i];
  }
  return AV_CODEC_ID_NONE;
}

}  // namespace hostlib::detail
