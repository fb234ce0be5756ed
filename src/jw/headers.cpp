#include "jw/headers.h"

#include <cstring>

namespace tarnwick {

namespace {

bool MagicIs(const uint8_t* data, size_t size, const char* magic) {
  size_t n = std::strlen(magic);
  return size >= n && std::memcmp(data, magic, n) == 0;
}

template <bool kTexts>
struct HeaderReader {
  ByteCursor& cur;
  const ByteTextDecoder& decoder;
  bool& mojiEncode;

  template <class... T>
  void num(T&... x) {
    (cur.num(x), ...);
  }
  void memo(std::u16string& s) {
    if constexpr (kTexts)
      s = ReadCString(cur, decoder, mojiEncode);
    else
      SkipCString(cur, mojiEncode);
  }
  void clean(std::u16string& s) {
    if constexpr (kTexts)
      s = ReadCStringClean(cur, decoder, mojiEncode);
    else
      SkipCString(cur, mojiEncode);
  }
};

void ApplyWidthRule(TEntJwwHeader& h) {
  h.bSenHaba100 = false;
  h.nMaxDrawWidBak = h.nMaxDrawWid;
  const int32_t w = h.nMaxDrawWid;
  if (w <= -101) {
    h.bSenHaba100 = true;
    if (w >= -500 && w <= -401)
      h.nMaxDrawWidBak = 400 + w;  // 400 - |w|
    else if (w >= -300 && w <= -201)
      h.nMaxDrawWidBak = -w - 200;  // |w| - 200
    else
      h.nMaxDrawWidBak = -100;
  }
}

void FiniteOr(double& x, double fallback) {
  if (!IsFiniteDouble(x)) x = fallback;
}

}  // namespace

bool CheckJwwImage(const uint8_t* data, size_t size) {
  if (size < 12 || !MagicIs(data, size, "JwwData.")) return false;
  int32_t v = LoadLE<int32_t>(data + 8);
  return v >= kJwwMinVersion && v <= kJwwMaxVersion;
}

bool CheckJwsImage(const uint8_t* data, size_t size) {
  if (size < 204 || !MagicIs(data, size, "JwsData")) return false;
  int32_t v = LoadLE<int32_t>(data + 200);
  return v >= kJwsMinVersion && v <= kJwsMaxVersion;
}

template <bool kTexts>
bool ReadJwwHeader(ByteCursor& cur, TJwwData& d, const ByteTextDecoder& decoder) {
  d.EntLgrp.resize(16);
  d.EntLay.resize(256);
  d.EntCol.resize(10);
  d.EntLtp1.resize(8);
  d.EntLtp2.resize(5);
  d.EntLtp3.resize(4);
  d.EntMoj.resize(10);
  d.EntColS.resize(257);
  d.EntLtpS.resize(33);
  TEntJwwHeader& h = d.Enthd;
  HeaderReader<kTexts> r{cur, decoder, d.MojiEncode};
  try {
    uint8_t magic[8] = {};
    size_t got = cur.read(magic, 8);
    const bool magicOk = got == 8 && std::memcmp(magic, "JwwData.", 8) == 0;
    if constexpr (kTexts) h.jwID = AnsiBytesToStr(magic, got, decoder);
    if (!magicOk) ThrowIoError(kJwwHeaderError);
    r.num(h.jwVer);
    if (h.jwVer < kJwwMinVersion || h.jwVer > kJwwMaxVersion) ThrowIoError(kJwwVersionError);
    const int32_t v = h.jwVer;

    r.memo(h.strMemo);
    r.num(h.nZumen, h.nWriteGLay);
    for (int g = 0; g < 16; ++g) {
      TEntJwwLayerGroup& grp = d.EntLgrp[g];
      r.num(grp.anGLay, grp.anWriteLay, grp.adScale, grp.anGLayProtect);
      for (int l = 0; l < 16; ++l) {
        TEntJwwLayer& lay = d.EntLay[g * 16 + l];
        r.num(lay.aanLay, lay.aanLayProtect);
      }
    }
    cur.advance(56);
    r.num(h.lnSunpou1, h.lnSunpou2, h.lnSunpou3, h.lnSunpou4, h.lnSunpou5);
    cur.advance(4);
    r.num(h.nMaxDrawWid);
    ApplyWidthRule(h);
    r.num(h.DPPrtGenten_x, h.DPPrtGenten_y, h.dPrtBairitsu, h.nPrtSet, h.nMemoriMode, h.dMemoriHyoujiMin,
          h.dMemoriX, h.dMemoriY, h.DpMemoriKjTen_x, h.DpMemoriKjTen_y);
    for (int i = 0; i < 256; ++i) r.clean(d.EntLay[i].aStrLayName);
    for (int g = 0; g < 16; ++g) r.clean(d.EntLgrp[g].aStrGLayName);
    r.num(h.dKageLevel, h.dKageIdo, h.nKage9_15JiFlg, h.dKabeKageLevel);
    if (v >= 300) r.num(h.dTenkuuZuLevel, h.dTenkuuZuEnkoR);
    r.num(h.nMMTani3D);
    r.num(h.dBairitsu, h.DPGenten_x, h.DPGenten_y, h.dHanniBairitsu, h.DPHanniGenten_x, h.DPHanniGenten_y);
    if (v >= 231) {
      for (int k = 1; k <= 8; ++k)
        r.num(h.dZoomJumpBairitsu[k], h.DPZoomJumpGenten_x[k], h.DPZoomJumpGenten_y[k], h.nZoomJumpGLay[k]);
      r.num(h.dDm11, h.dDm12, h.dDm13, h.lnDm1, h.dDm21, h.dDm22, h.dMojiBG, h.nMojiBG);
    } else {
      for (int k = 1; k <= 4; ++k) r.num(h.dZoomJumpBairitsu[k], h.DPZoomJumpGenten_x[k], h.DPZoomJumpGenten_y[k]);
    }
    for (double& x : h.adFukusenSuuchi) r.num(x);
    r.num(h.dRyougawaFukusenTomeDe);
    for (auto& c : d.EntCol) r.num(c.aPenColor, c.anPenWidth);
    for (auto& c : d.EntCol) r.num(c.aPrtPenColor, c.anPrtPenWidth, c.adPrtTenHankei);
    for (auto& t : d.EntLtp1) r.num(t.alLType, t.anTokushuSenUintDot, t.anTokushuSenPich, t.anPrtTokushuSenPich);
    for (auto& t : d.EntLtp2)
      r.num(t.alLType, t.anRandSenWide, t.anTokushuSenPich, t.anPrtRandSenWide, t.anPrtTokushuSenPich);
    for (auto& t : d.EntLtp3) r.num(t.alLType, t.anTokushuSenUintDot, t.anTokushuSenPich, t.anPrtTokushuSenPich);
    r.num(h.nDrawGamenTen, h.nDrawPrtTen, h.nBitMapFirstDraw, h.nGyakuDraw, h.nGyakuSearch, h.nColorPrint,
          h.nLayJunPrint, h.nColJunPrint, h.nPrtRenzoku, h.nPrtKyoutsuuGray);
    int32_t packed = 0;
    r.num(packed);
    h.nPrtDpi = packed / 10;
    h.nPrtDispOnlyNonDraw = packed % 10;
    if (v >= 223)
      r.num(h.lnDrawTime, h.nEyeInit, h.dEye_H_Ichi_1, h.dEye_H_Ichi_2, h.dEye_H_Ichi_3, h.dEye_Z_Ichi_1,
            h.dEye_Y_Ichi_1, h.dEye_Z_Ichi_2, h.dEye_Y_Ichi_2, h.dEye_V_Ichi_3);
    if (v >= 225) r.num(h.dSenNagasaSnpou, h.dBoxSunpouX, h.dBoxSunpouY, h.dEnHankeiSnpou);
    if (v >= 230) r.num(h.nSolidNinniColor, h.SolidColor);
    if (v >= 420) {
      for (auto& c : d.EntColS) r.num(c.aPenColor, c.anPenWidth);
      for (auto& c : d.EntColS) {
        r.clean(c.astrUDColorName);
        r.num(c.aPrtPenColor, c.anPrtPenWidth, c.adPrtTenHankei);
      }
      for (auto& t : d.EntLtpS) r.num(t.alLType, t.anTokushuSenUintDot, t.anTokushuSenPich, t.anPrtTokushuSenPich);
      for (auto& t : d.EntLtpS) {
        r.clean(t.astrUDLTypeName);
        r.num(t.anUDLTypeSegment);
        for (int k = 1; k <= 10; ++k) r.num(t.aadUDLTypePitch[k]);
      }
    }
    for (auto& m : d.EntMoj) {
      r.num(m.adMojiX, m.adMojiY, m.adMojiD, m.anMojiCol);
      FiniteOr(m.adMojiX, 3.0);
      FiniteOr(m.adMojiY, 3.0);
      FiniteOr(m.adMojiD, 0.0);
    }
    r.num(h.dMojiSizeX, h.dMojiSizeY, h.dMojiKankaku);
    FiniteOr(h.dMojiSizeX, 3.0);
    FiniteOr(h.dMojiSizeY, 3.0);
    FiniteOr(h.dMojiKankaku, 0.0);
    r.num(h.nMojiColor, h.nMojiShu, h.dMojiSeiriGyouKan, h.dMojiSeiriSuu, h.nMojiKijunZureOn, h.adMojiKijunZureX0,
          h.adMojiKijunZureX1, h.adMojiKijunZureX2, h.adMojiKijunZureY0, h.adMojiKijunZureY1);
    if (cur.num(h.adMojiKijunZureY2) == 0) ThrowIoError();
    return true;
  } catch (const ReadError&) {
    return false;
  }
}

template bool ReadJwwHeader<true>(ByteCursor&, TJwwData&, const ByteTextDecoder&);
template bool ReadJwwHeader<false>(ByteCursor&, TJwwData&, const ByteTextDecoder&);

bool ReadJwsHeader(ByteCursor& cur, TJwsData& d, const ByteTextDecoder& decoder) {
  d.EntLgrp.resize(16);
  TEntJwsHeader& h = d.Enthd;
  try {
    uint8_t magic[7] = {};
    size_t got = cur.read(magic, 7);
    h.jwID = AnsiBytesToStr(magic, got, decoder);
    if (got != 7 || std::memcmp(magic, "JwsData", 7) != 0) ThrowIoError(kJwsHeaderError);
    cur.advance(193);
    cur.num(h.jwVer);
    if (h.jwVer < kJwsMinVersion || h.jwVer > kJwsMaxVersion) ThrowIoError(kJwsVersionError);
    cur.num(h.BasePoint_x);
    cur.num(h.BasePoint_y);
    for (auto& g : d.EntLgrp) {
      cur.num(g.adScale);
      g.anGLay = 2;
      g.anWriteLay = 0;
      g.anGLayProtect = 0;
      g.aStrGLayName.clear();
    }
    for (int32_t* x : {&h.dmy01, &h.dmy02, &h.dmy03, &h.dmy04, &h.dmy05, &h.dmy06}) cur.num(*x);
    for (double* x : {&h.dmy11, &h.dmy12, &h.dmy13, &h.dmy14, &h.dmy15, &h.dmy16}) cur.num(*x);
    cur.num(h.Mx1);
    cur.num(h.My1);
    cur.num(h.Mx2);
    if (cur.num(h.My2) == 0) ThrowIoError();
    return true;
  } catch (const ReadError&) {
    return false;
  }
}

}  // namespace tarnwick
