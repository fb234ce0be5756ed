// The in-memory model of one drawing: the records that every entity, block
// definition and table entry is read into, and the two data classes that own
// them (TJwwData for a JWW drawing, TJwsData for a JWS figure file).
//
// Arrays are paired with signed 32-bit counts; the count, not the array's
// length, says how many leading elements are valid.  While a list is being
// read an array grows in steps and is cut to its count only once the list has
// ended, so after a read that failed part-way an array may be longer than its
// count.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

// Entity kind codes as they appear in TEntJwwNo::EntType.
enum EntKind : int32_t {
  kKindNone = 0,
  kKindLine = 1,
  kKindEnko = 2,
  kKindTen = 3,
  kKindMoji = 4,
  kKindSunpo = 5,
  kKindSolid = 6,
  kKindBlock = 7,
};

struct TEntJwwNo {
  int32_t EntType = 0;
  int32_t EntNo = 0;
};

struct TEntJwwAttr {
  uint32_t lGroup = 0;
  uint8_t nPenStyle = 0;
  uint16_t nPenColor = 0;
  uint16_t nPenWidth = 0;
  uint16_t nLayer = 0;
  uint16_t nGLayer = 0;
  uint16_t sFlg = 0;
};

struct TEntJwwLine {
  TEntJwwAttr att;
  double start_x = 0, start_y = 0, end_x = 0, end_y = 0;
};

struct TEntJwwEnko {
  TEntJwwAttr att;
  double start_x = 0, start_y = 0;
  double dHankei = 0;
  double radKaishiKaku = 0;
  double radEnkoKaku = 0;
  double radKatamukiKaku = 0;
  double dHenpeiRitsu = 0;
  uint32_t bZenEnFlg = 0;
};

struct TEntJwwTen {
  TEntJwwAttr att;
  double start_x = 0, start_y = 0;
  uint32_t bKariten = 0;
  uint32_t nCode = 0;
  double radKaitenKaku = 0;
  double dBairitsu = 0;
};

struct TEntJwwMoji {
  TEntJwwAttr att;
  double start_x = 0, start_y = 0, end_x = 0, end_y = 0;
  uint32_t nMojiShu = 0;
  double dSizeX = 0, dSizeY = 0;
  double dKankaku = 0;
  double degKakudo = 0;
  std::u16string strFontName;
  std::u16string str;
};

struct TEntJwwSunpo {
  TEntJwwAttr att;
  TEntJwwLine Sen;
  TEntJwwMoji Moji;
  uint16_t bSxfMode = 0;
  TEntJwwLine Ho1, Ho2;
  TEntJwwTen Te1, Te2, Kt1, Kt2;
};

struct TEntJwwSolid {
  TEntJwwAttr att;
  double start_x = 0, start_y = 0, end_x = 0, end_y = 0;
  double DPoint2_x = 0, DPoint2_y = 0;
  double DPoint3_x = 0, DPoint3_y = 0;
  uint32_t Color = 0;
};

struct TEntJwwBlock {
  TEntJwwAttr att;
  double DPKijunTen_x = 0, DPKijunTen_y = 0;
  double dBairitsuX = 0, dBairitsuY = 0;
  double radKaitenKaku = 0;
  uint32_t nNumber = 0;
};

struct TEntJwwBlockDef {
  TEntJwwAttr att;
  uint32_t nNumber = 0;
  uint32_t bRefferd = 0;
  uint32_t dtime = 0;
  std::u16string strName;
  int32_t N = 0;
  std::vector<TEntJwwNo> mNo;
  int32_t mLineN = 0, mEnkoN = 0, mTenN = 0, mMojiN = 0, mSunpoN = 0, mSolidN = 0, mBlockN = 0;
  std::vector<TEntJwwLine> mLine;
  std::vector<TEntJwwEnko> mEnko;
  std::vector<TEntJwwTen> mTen;
  std::vector<TEntJwwMoji> mMoji;
  std::vector<TEntJwwSunpo> mSunpo;
  std::vector<TEntJwwSolid> mSolid;
  std::vector<TEntJwwBlock> mBlock;
  bool ref_flag = false;
  int32_t ref_no = 0;
};

struct TEntJwwBlockTree {
  TEntJwwAttr att;
  int32_t level = 0;
  int32_t parent = 0;
  uint32_t no = 0;
  int32_t defno = 0;
  std::u16string name;
  double x = 0, y = 0;
  double r1 = 0, r2 = 0, r3 = 0, r4 = 0;
};

// Drawing-wide tables.
struct TEntJwwLayerGroup {
  int32_t anGLay = 0;
  int32_t anWriteLay = 0;
  double adScale = 0;
  int32_t anGLayProtect = 0;
  std::u16string aStrGLayName;
};

struct TEntJwwLayer {
  int32_t aanLay = 0;
  int32_t aanLayProtect = 0;
  std::u16string aStrLayName;
};

struct TEntJwwColorNo {
  int32_t aPenColor = 0;
  int32_t anPenWidth = 0;
  int32_t aPrtPenColor = 0;
  int32_t anPrtPenWidth = 0;
  double adPrtTenHankei = 0;
};

struct TEntJwwLineTypeNo {
  int32_t alLType = 0;
  int32_t anTokushuSenUintDot = 0;
  int32_t anTokushuSenPich = 0;
  int32_t anPrtTokushuSenPich = 0;
};

struct TEntJwwRandomLineNo {
  int32_t alLType = 0;
  int32_t anRandSenWide = 0;
  int32_t anTokushuSenPich = 0;
  int32_t anPrtRandSenWide = 0;
  int32_t anPrtTokushuSenPich = 0;
};

struct TEntJwwColorExNo {
  int32_t aPenColor = 0;
  int32_t anPenWidth = 0;
  std::u16string astrUDColorName;
  int32_t aPrtPenColor = 0;
  int32_t anPrtPenWidth = 0;
  double adPrtTenHankei = 0;
};

struct TEntJwwLineTypeExNo {
  int32_t alLType = 0;
  int32_t anTokushuSenUintDot = 0;
  int32_t anTokushuSenPich = 0;
  int32_t anPrtTokushuSenPich = 0;
  std::u16string astrUDLTypeName;
  int32_t anUDLTypeSegment = 0;
  std::array<double, 11> aadUDLTypePitch{};  // numbered 1 to 10; entry 0 unused
};

struct TEntJwwMojiType {
  double adMojiX = 0;
  double adMojiY = 0;
  double adMojiD = 0;
  int32_t anMojiCol = 0;
};

struct TBindImageType {
  std::u16string Fname;
  int32_t Fsize = 0;
  bool exf = false;
};

struct TEntJwwHeader {
  std::u16string jwID;
  int32_t jwVer = 0;
  std::u16string strMemo;
  int32_t nZumen = 0;
  int32_t nWriteGLay = 0;
  int32_t lnSunpou1 = 0, lnSunpou2 = 0, lnSunpou3 = 0, lnSunpou4 = 0, lnSunpou5 = 0;
  int32_t nMaxDrawWid = 0;
  bool bSenHaba100 = false;
  int32_t nMaxDrawWidBak = 0;
  double DPPrtGenten_x = 0, DPPrtGenten_y = 0;
  double dPrtBairitsu = 1;
  int32_t nPrtSet = 0;
  int32_t nMemoriMode = 0;
  double dMemoriHyoujiMin = 1;
  double dMemoriX = 1, dMemoriY = 1;
  double DpMemoriKjTen_x = 0, DpMemoriKjTen_y = 0;
  double dKageLevel = 0, dKageIdo = 0;
  int32_t nKage9_15JiFlg = 0;
  double dKabeKageLevel = 0;
  double dTenkuuZuLevel = 0, dTenkuuZuEnkoR = 0;
  int32_t nMMTani3D = 0;
  double dBairitsu = 1;
  double DPGenten_x = 0, DPGenten_y = 0;
  double dHanniBairitsu = 1;
  double DPHanniGenten_x = 0, DPHanniGenten_y = 0;
  // Zoom jumps are numbered 1 to 8; entry 0 is unused.
  std::array<double, 9> dZoomJumpBairitsu{};
  std::array<double, 9> DPZoomJumpGenten_x{};
  std::array<double, 9> DPZoomJumpGenten_y{};
  std::array<int32_t, 9> nZoomJumpGLay{};
  double dDm11 = 0, dDm12 = 0, dDm13 = 0;
  int32_t lnDm1 = 0;
  double dDm21 = 0, dDm22 = 0;
  double dMojiBG = 0;
  int32_t nMojiBG = 0;
  std::array<double, 10> adFukusenSuuchi{};
  double dRyougawaFukusenTomeDe = 0;
  int32_t nDrawGamenTen = 0, nDrawPrtTen = 0, nBitMapFirstDraw = 0, nGyakuDraw = 0,
          nGyakuSearch = 0, nColorPrint = 0, nLayJunPrint = 0, nColJunPrint = 0,
          nPrtRenzoku = 0, nPrtKyoutsuuGray = 0, nPrtDispOnlyNonDraw = 0, nPrtDpi = 0;
  int32_t lnDrawTime = 0;
  int32_t nEyeInit = 0;
  int32_t dEye_H_Ichi_1 = 0, dEye_H_Ichi_2 = 0, dEye_H_Ichi_3 = 0;  // integers despite the d
  double dEye_Z_Ichi_1 = 0, dEye_Y_Ichi_1 = 0, dEye_Z_Ichi_2 = 0, dEye_Y_Ichi_2 = 0,
         dEye_V_Ichi_3 = 0;
  double dSenNagasaSnpou = 0, dBoxSunpouX = 0, dBoxSunpouY = 0, dEnHankeiSnpou = 0;
  int32_t nSolidNinniColor = 0, SolidColor = 0;
  double dMojiSizeX = 0, dMojiSizeY = 0, dMojiKankaku = 0;
  int32_t nMojiColor = 0, nMojiShu = 0;
  double dMojiSeiriGyouKan = 0, dMojiSeiriSuu = 0;
  int32_t nMojiKijunZureOn = 0;
  double adMojiKijunZureX0 = 0, adMojiKijunZureX1 = 0, adMojiKijunZureX2 = 0;
  double adMojiKijunZureY0 = 0, adMojiKijunZureY1 = 0, adMojiKijunZureY2 = 0;
  int32_t n1 = 0;
  int32_t n2 = 0;

  TEntJwwHeader();  // the defaults of DataInit
};

struct TEntJwsHeader {
  std::u16string jwID;
  int32_t jwVer = 0;
  double BasePoint_x = 0, BasePoint_y = 0;
  int32_t dmy01 = 0, dmy02 = 0, dmy03 = 0, dmy04 = 0, dmy05 = 0, dmy06 = 0;
  double dmy11 = 0, dmy12 = 0, dmy13 = 0, dmy14 = 0, dmy15 = 0, dmy16 = 0;
  double Mx1 = 0, My1 = 0, Mx2 = 0, My2 = 0;
  int32_t n1 = 0;
  int32_t n2 = 0;
};

// The entity arrays, definitions, block tree and image table that both data
// classes hold under the same names.
struct TJwBody {
  std::vector<TEntJwwLayerGroup> EntLgrp;
  std::vector<TEntJwwMojiType> EntMoj;
  std::vector<TEntJwwNo> EntNo;
  std::vector<TEntJwwLine> EntLine;
  int32_t EntLineN = 0;
  std::vector<TEntJwwEnko> EntEnko;
  int32_t EntEnkoN = 0;
  std::vector<TEntJwwTen> EntTen;
  int32_t EntTenN = 0;
  std::vector<TEntJwwMoji> EntMoji;
  int32_t EntMojiN = 0;
  std::vector<TEntJwwSunpo> EntSunpo;
  int32_t EntSunpoN = 0;
  std::vector<TEntJwwSolid> EntSolid;
  int32_t EntSolidN = 0;
  std::vector<TEntJwwBlock> EntBlock;
  int32_t EntBlockN = 0;
  std::vector<TEntJwwBlockDef> EntBlockDef;
  int32_t EntBlockDefN = 0;
  std::vector<TEntJwwBlockTree> EntBlockTree;
  int32_t EntBlockTreeN = 0;
  int32_t EntBlockNum = 0;
  std::u16string BindImageFolder;
  std::vector<TBindImageType> BindImage;
  int32_t BindImageN = 0;
  bool BindImageExp = false;
  bool BindImageExr = false;
  int32_t FileOutOpt = 0;
  int32_t FontNameN = 0;
  std::vector<std::u16string> FontNames;
  bool MojiEncode = false;
  double myMinWx = 0, myMinWy = 0, myMaxWx = 0, myMaxWy = 0;

  // Code page of the drawing's byte texts; 932 (Japanese, Microsoft's
  // mapping) unless the owner sets another.
  int CodePage = 932;

  // Most nodes MakeBlockTree appends; FileIn lowers it for small files so a
  // tree never outgrows its drawing by much.
  int32_t TreeNodeLimit = kMaxTreeNodes;

  void BindImageInit();
  // Resolves the block inserts into EntBlockTree and marks the referenced
  // definitions.  Nodes deeper than kMaxTreeLevel are not expanded and
  // expansion stops at TreeNodeLimit nodes, or when the names copied into the
  // nodes would pass kTreeNameUnitsPerNode code units per node of that limit,
  // so a definition that inserts itself cannot make it run away.
  void MakeBlockTree();

  static constexpr int32_t kMaxTreeLevel = 32;
  static constexpr int32_t kMaxTreeNodes = 1'000'000;
  static constexpr int32_t kMinTreeNodeLimit = 65'536;
  static constexpr size_t kTreeNameUnitsPerNode = 32;

 protected:
  void BodyInit();  // empties everything DataInit empties except the header and JWW tables
  void FreeDefinitions();
};

class TJwwData : public TJwBody {
 public:
  TEntJwwHeader Enthd;
  std::vector<TEntJwwLayer> EntLay;
  std::vector<TEntJwwColorNo> EntCol;
  std::vector<TEntJwwLineTypeNo> EntLtp1;
  std::vector<TEntJwwRandomLineNo> EntLtp2;
  std::vector<TEntJwwLineTypeNo> EntLtp3;
  std::vector<TEntJwwColorExNo> EntColS;
  std::vector<TEntJwwLineTypeExNo> EntLtpS;

  TJwwData() { DataInit(); }
  virtual ~TJwwData() { DataFree(); }
  TJwwData(const TJwwData&) = delete;
  TJwwData& operator=(const TJwwData&) = delete;

  void DataInit();
  void DataFree();

  // True when the file at FName starts with "JwwData." and a version of 220 to 700.
  bool FileCheck(const std::u16string& FName) const;
  bool FileCheck(const std::string& nativePath) const;
  // Reads the whole file into this object; false when the file could not be
  // read to the end of its last section (what was stored stays).
  bool FileIn(const std::u16string& FName);
  bool FileIn(const std::string& nativePath);
  // The same for a file image already in memory.
  bool FileInBytes(const uint8_t* data, size_t size);

  // Remove the extracted image files of the table from BindImageFolder.
  void BindImageDeleteGzFile();
  void BindImageDeleteNonGzFile();
};

class TJwsData : public TJwBody {
 public:
  TEntJwsHeader Enthd;

  TJwsData() { DataInit(); }
  virtual ~TJwsData() { DataFree(); }
  TJwsData(const TJwsData&) = delete;
  TJwsData& operator=(const TJwsData&) = delete;

  void DataInit();
  void DataFree();

  bool FileCheck(const std::u16string& FName) const;
  bool FileCheck(const std::string& nativePath) const;
  bool FileIn(const std::u16string& FName);
  bool FileIn(const std::string& nativePath);
  bool FileInBytes(const uint8_t* data, size_t size);
};

// The cleanup after every JWW file and at shutdown: the extracted image
// files, then the model, then the image table.
void JwwDataFree(TJwwData& JW);

}  // namespace tarnwick
