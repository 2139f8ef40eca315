// fold_relocs: moves a PE32 image's base relocations out of their own .reloc
// section into the slack at the end of another read-only section, then packs
// the headers and section data again at the image's own file alignment.
//
// A linker gives .reloc a section of its own, and every section costs a whole
// file-alignment block on disk: for a program as small as showfile.exe, a
// third of the file. The relocations stay in the image, where the base
// relocation directory says, so the image can still be loaded at any base.
//
// It refuses what it can't fold faithfully, and checks what it wrote against
// the layout rules a loader enforces before it lets the output stand. For the
// tests it also applies an image's relocations, as a loader that moves it
// would.
//
//   fold_relocs IN.exe OUT.exe [SECTION]   fold; SECTION defaults to .rdata
//   fold_relocs --check IMAGE.exe          only check IMAGE's layout
//   fold_relocs --rebase IN.exe OUT.exe BASE
//                                          move IN to image base BASE
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// Every read is bounds-checked: a short or damaged image ends in a message,
// never in a read past the buffer.
static uint32_t Get(const Bytes &Image, uint64_t At, int Size) {
  if (At + Size > Image.size())
    throw std::runtime_error("the image is cut short");
  uint32_t Value = 0;
  for (int I = Size - 1; I >= 0; I--)
    Value = Value << 8 | Image[At + I];
  return Value;
}

static void Put(Bytes &Image, uint64_t At, int Size, uint32_t Value) {
  if (At + Size > Image.size())
    throw std::runtime_error("the image is cut short");
  for (int I = 0; I < Size; I++, Value >>= 8)
    Image[At + I] = (uint8_t)Value;
}

// Sums and roundings are done in 64 bits; one that doesn't fit the 32-bit
// field it is meant for is refused.
static uint32_t Fit(uint64_t Value) {
  if (Value > UINT32_MAX)
    throw std::runtime_error("a size or address overflows 32 bits");
  return (uint32_t)Value;
}

static uint64_t AlignUp(uint64_t Value, uint32_t Alignment) {
  return (Value + Alignment - 1) / Alignment * Alignment;
}

// Offsets in the PE32 headers.
enum {
  SectionCount = 2,        // in the file header
  SymbolTable = 8,         // in the file header
  OptionalHeaderSize = 16, // in the file header
  InitializedData = 8,     // from here on, in the optional header
  EntryPoint = 16,
  ImageBase = 28,
  SectionAlignment = 32,
  FileAlignment = 36,
  ImageSize = 56,
  HeadersSize = 60,
  CheckSum = 64,
  DirectoryCount = 92,
  Directories = 96,
  SectionName = 0, // from here on, in a section header
  VirtualSize = 8,
  VirtualAddress = 12,
  RawSize = 16,
  RawPointer = 20,
  Characteristics = 36,
  SectionHeaderSize = 40,
};
// Data directories, by index.
enum { CertificateTable = 4, BaseRelocationTable = 5, DebugDirectory = 6 };
const uint32_t InitializedDataFlag = 0x40, WritableFlag = 0x80000000u;

// Where the headers of a PE32 image lie.
struct Layout {
  uint64_t File, Optional, Table;
  uint32_t Sections, FileAlign, SectionAlign, DirectoryCount;
  uint64_t Section(uint32_t I) const {
    return Table + (uint64_t)I * SectionHeaderSize;
  }
  uint64_t Directory(uint32_t I) const {
    return Optional + Directories + I * 8;
  }
};

static Layout Locate(const Bytes &Image) {
  if (Image.size() < 0x40 || Image[0] != 'M' || Image[1] != 'Z')
    throw std::runtime_error("not an MZ image");
  Layout L;
  L.File = Get(Image, 0x3C, 4) + 4ull;
  L.Optional = L.File + 20;
  if (Get(Image, L.File - 4, 4) != 0x4550 || Get(Image, L.Optional, 2) != 0x10B)
    throw std::runtime_error("not a PE32 image");
  L.Table = L.Optional + Get(Image, L.File + OptionalHeaderSize, 2);
  L.Sections = Get(Image, L.File + SectionCount, 2);
  L.FileAlign = Get(Image, L.Optional + FileAlignment, 4);
  L.SectionAlign = Get(Image, L.Optional + SectionAlignment, 4);
  L.DirectoryCount = std::min<uint32_t>(Get(Image, L.Optional + DirectoryCount, 4), 16);
  if (L.FileAlign < 512 || (L.FileAlign & (L.FileAlign - 1)) != 0 || L.SectionAlign < L.FileAlign ||
      (L.SectionAlign & (L.SectionAlign - 1)) != 0)
    throw std::runtime_error("the file or section alignment is not one a loader takes");
  if (L.Sections == 0 || L.Optional + Directories + L.DirectoryCount * 8 > L.Table)
    throw std::runtime_error("the headers don't hold together");
  if (L.Section(L.Sections) > Image.size())
    throw std::runtime_error("the image is cut short");
  return L;
}

// The section whose addresses hold Size bytes from Address, as far as the
// section's size field (VirtualSize or RawSize) reaches; -1 when none does.
static int SectionHolding(const Bytes &Image, const Layout &L, uint64_t Address, uint64_t Size,
                          int SizeField) {
  for (uint32_t I = 0; I < L.Sections; I++) {
    uint64_t Start = Get(Image, L.Section(I) + VirtualAddress, 4);
    if (Address >= Start && Address + Size <= Start + Get(Image, L.Section(I) + SizeField, 4))
      return (int)I;
  }
  return -1;
}

// The rules a loader holds an image to, as far as folding can break them.
// Returns what is wrong, or an empty string.
static std::string CheckLayout(const Bytes &Image) {
  try {
    Layout L = Locate(Image);
    uint64_t Headers = Get(Image, L.Optional + HeadersSize, 4);
    if (Headers != AlignUp(L.Section(L.Sections), L.FileAlign) || Headers > Image.size())
      return "SizeOfHeaders is not the section table's end, rounded to the file alignment";
    uint64_t NextAddress = AlignUp(Headers, L.SectionAlign), NextRaw = Headers;
    for (uint32_t I = 0; I < L.Sections; I++) {
      uint64_t At = L.Section(I);
      uint64_t Address = Get(Image, At + VirtualAddress, 4);
      uint64_t Size = Get(Image, At + VirtualSize, 4);
      uint64_t Raw = Get(Image, At + RawPointer, 4), RawBytes = Get(Image, At + RawSize, 4);
      if (Address != NextAddress)
        return "section " + std::to_string(I) + " doesn't follow the one before it in memory";
      if (RawBytes != 0 && (Raw % L.FileAlign != 0 || RawBytes % L.FileAlign != 0 ||
                            Raw < NextRaw || Raw + RawBytes > Image.size()))
        return "section " + std::to_string(I) + "'s data is misplaced or runs past the file";
      NextAddress = AlignUp(Address + std::max(Size, RawBytes), L.SectionAlign);
      NextRaw = RawBytes != 0 ? Raw + RawBytes : NextRaw;
    }
    if (Get(Image, L.Optional + ImageSize, 4) != NextAddress)
      return "SizeOfImage is not the end of the last section";
    if (NextRaw != Image.size())
      return "the file holds bytes that no section owns";

    // Every directory but the certificate table (a file offset) lies whole
    // inside one section, and the entry point inside one.
    auto Inside = [&](uint64_t Address, uint64_t Size) {
      return SectionHolding(Image, L, Address, Size, VirtualSize) >= 0;
    };
    for (uint32_t I = 0; I < L.DirectoryCount; I++) {
      uint64_t Address = Get(Image, L.Directory(I), 4), Size = Get(Image, L.Directory(I) + 4, 4);
      if (I != CertificateTable && Size != 0 && !Inside(Address, Size))
        return "data directory " + std::to_string(I) + " is not inside a section";
    }
    if (!Inside(Get(Image, L.Optional + EntryPoint, 4), 1))
      return "the entry point is not inside a section";
    return "";
  } catch (const std::exception &Error) {
    return Error.what();
  }
}

static bool ReadImage(const char *Path, Bytes &Image) {
  std::ifstream In(Path, std::ios::binary);
  if (!In)
    return false;
  Image.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return !In.bad();
}

static bool WriteImage(const char *Path, const Bytes &Image) {
  std::ofstream Out(Path, std::ios::binary);
  Out.write((const char *)Image.data(), (std::streamsize)Image.size());
  Out.close();
  return Out.good();
}

static int Fail(const std::string &Why) {
  std::fprintf(stderr, "fold_relocs: %s\n", Why.c_str());
  return 1;
}

// Folds the image in place, or throws what stands in the way.
static void Fold(Bytes &Image, const char *Into) {
  Layout L = Locate(Image);
  if (Get(Image, L.File + SymbolTable, 4) != 0)
    throw std::runtime_error("the image still has a symbol table; strip it first");
  // These directories point at file offsets, which the new layout would move.
  for (uint32_t Index : {CertificateTable, DebugDirectory})
    if (Index < L.DirectoryCount && Get(Image, L.Directory(Index) + 4, 4) != 0)
      throw std::runtime_error(Index == CertificateTable
                                   ? "the image is signed (a certificate table)"
                                   : "the image has a debug directory");

  // Each section's header and raw data, as they stand.
  struct Section {
    Bytes Header, Data;
  };
  std::vector<Section> All;
  int Relocs = -1, Target = -1;
  for (uint32_t I = 0; I < L.Sections; I++) {
    uint64_t At = L.Section(I);
    Section S;
    S.Header.assign(Image.begin() + At, Image.begin() + At + SectionHeaderSize);
    uint64_t Raw = Get(S.Header, RawPointer, 4), Size = Get(S.Header, RawSize, 4);
    if (Raw + Size > Image.size())
      throw std::runtime_error("a section runs past the end of the file");
    S.Data.assign(Image.begin() + Raw, Image.begin() + Raw + Size);
    if (std::memcmp(&S.Header[SectionName], ".reloc\0", 8) == 0)
      Relocs = (int)I;
    if (std::strncmp((const char *)&S.Header[SectionName], Into, 8) == 0)
      Target = (int)I;
    All.push_back(S);
  }
  if (Relocs < 0 || Target < 0)
    throw std::runtime_error("no .reloc section, or no section to fold it into");
  // Taking a section out of the middle would leave a hole in the image.
  if (Relocs != (int)L.Sections - 1)
    throw std::runtime_error(".reloc is not the last section");

  Section &From = All[Relocs], &To = All[Target];
  uint32_t RelocsAt = Get(Image, L.Directory(BaseRelocationTable), 4);
  uint32_t RelocsSize = Get(Image, L.Directory(BaseRelocationTable) + 4, 4);
  if (RelocsAt != Get(From.Header, VirtualAddress, 4) || RelocsSize > From.Data.size())
    throw std::runtime_error("the base relocation directory is not the .reloc section");
  if (Get(To.Header, Characteristics, 4) & WritableFlag)
    throw std::runtime_error("the target section is writable");

  // Append the relocation blocks, 4-byte aligned, to the target's contents,
  // without reaching into the next section's addresses.
  uint32_t Start = Fit(AlignUp(Get(To.Header, VirtualSize, 4), 4));
  uint32_t End = Fit((uint64_t)Start + RelocsSize);
  uint32_t ToAddress = Get(To.Header, VirtualAddress, 4);
  uint64_t Room = AlignUp((uint64_t)ToAddress + End, L.SectionAlign);
  for (const Section &S : All)
    if (&S != &From && Get(S.Header, VirtualAddress, 4) > ToAddress &&
        Get(S.Header, VirtualAddress, 4) < Room)
      throw std::runtime_error("no room for the relocations after the target section");
  To.Data.resize(std::max<size_t>(To.Data.size(), Fit(AlignUp(End, L.FileAlign))), 0);
  std::memcpy(&To.Data[Start], &From.Data[0], RelocsSize);
  Put(To.Header, VirtualSize, 4, End);
  Put(To.Header, RawSize, 4, (uint32_t)To.Data.size());
  Put(Image, L.Directory(BaseRelocationTable), 4, Fit((uint64_t)ToAddress + Start));
  All.erase(All.begin() + Relocs);

  // Lay the file out again: the headers, then each section's data in turn.
  uint32_t Sections = (uint32_t)All.size();
  uint32_t Headers = Fit(AlignUp(L.Section(Sections), L.FileAlign));
  Bytes Out(Image.begin(), Image.begin() + L.Table);
  Out.resize(Headers, 0);
  uint64_t Offset = Headers, Initialized = 0, Extent = 0;
  for (uint32_t I = 0; I < Sections; I++) {
    Section &S = All[I];
    Put(S.Header, RawPointer, 4, S.Data.empty() ? 0 : Fit(Offset));
    std::memcpy(&Out[L.Section(I)], &S.Header[0], SectionHeaderSize);
    Out.insert(Out.end(), S.Data.begin(), S.Data.end());
    Offset += S.Data.size();
    if (Get(S.Header, Characteristics, 4) & InitializedDataFlag)
      Initialized += S.Data.size();
    Extent = std::max<uint64_t>(Extent, (uint64_t)Get(S.Header, VirtualAddress, 4) +
                                            Get(S.Header, VirtualSize, 4));
  }
  Put(Out, L.File + SectionCount, 2, Sections);
  Put(Out, L.Optional + HeadersSize, 4, Headers);
  Put(Out, L.Optional + InitializedData, 4, Fit(Initialized));
  Put(Out, L.Optional + ImageSize, 4, Fit(AlignUp(Extent, L.SectionAlign)));
  Put(Out, L.Optional + CheckSum, 4, 0);
  Image.swap(Out);
}

// The file offset of an address in the image, where a section has its bytes.
static uint64_t OffsetOf(const Bytes &Image, const Layout &L, uint64_t Address, uint32_t Size) {
  int I = SectionHolding(Image, L, Address, Size, RawSize);
  if (I < 0)
    throw std::runtime_error("an address has no bytes in the file");
  return Get(Image, L.Section(I) + RawPointer, 4) + Address -
         Get(Image, L.Section(I) + VirtualAddress, 4);
}

// Applies the base relocation table for a move to Base, as a loader does.
static void Rebase(Bytes &Image, uint32_t Base) {
  Layout L = Locate(Image);
  uint32_t Delta = Base - Get(Image, L.Optional + ImageBase, 4);
  uint64_t Table = Get(Image, L.Directory(BaseRelocationTable), 4);
  uint64_t End = Table + Get(Image, L.Directory(BaseRelocationTable) + 4, 4);
  while (Table < End) {
    uint64_t Block = OffsetOf(Image, L, Table, 8);
    uint32_t Page = Get(Image, Block, 4), Bytes = Get(Image, Block + 4, 4);
    if (Bytes < 8 || Bytes % 2 != 0)
      throw std::runtime_error("a relocation block has a bad size");
    for (uint32_t At = 8; At < Bytes; At += 2) {
      uint32_t Entry = Get(Image, Block + At, 2);
      if (Entry >> 12 == 0) // IMAGE_REL_BASED_ABSOLUTE: padding
        continue;
      if (Entry >> 12 != 3) // IMAGE_REL_BASED_HIGHLOW, the only kind i386 uses
        throw std::runtime_error("a relocation of a kind other than HIGHLOW");
      uint64_t Word = OffsetOf(Image, L, (uint64_t)Page + (Entry & 0xFFF), 4);
      Put(Image, Word, 4, Get(Image, Word, 4) + Delta);
    }
    Table += Bytes;
  }
  Put(Image, L.Optional + ImageBase, 4, Base);
}

int main(int Count, char **Arguments) {
  bool Check = Count == 3 && std::strcmp(Arguments[1], "--check") == 0;
  bool Move = Count == 5 && std::strcmp(Arguments[1], "--rebase") == 0;
  if (!Check && !Move && (Count < 3 || Count > 4))
    return Fail("usage: fold_relocs IN.exe OUT.exe [SECTION] | --check IMAGE.exe | "
                "--rebase IN.exe OUT.exe BASE");
  std::string In = Arguments[Check || Move ? 2 : 1];
  const char *Out = Arguments[Move ? 3 : 2];

  Bytes Image;
  if (!ReadImage(In.c_str(), Image))
    return Fail("can't read " + In);
  if (Check) {
    std::string Wrong = CheckLayout(Image);
    return Wrong.empty() ? 0 : Fail(In + ": " + Wrong);
  }
  try {
    if (Move)
      Rebase(Image, Fit(std::stoull(Arguments[4], nullptr, 0)));
    else
      Fold(Image, Count > 3 ? Arguments[3] : ".rdata");
  } catch (const std::exception &Error) {
    return Fail(In + ": " + Error.what());
  }
  if (!WriteImage(Out, Image))
    return Fail(std::string("can't write ") + Out);
  if (Move)
    return 0;

  // What was folded must be read back whole and pass a loader's rules.
  Bytes Written;
  std::string Wrong = !ReadImage(Out, Written) || Written != Image
                          ? "it doesn't read back as written"
                          : CheckLayout(Written);
  if (!Wrong.empty()) {
    std::filesystem::remove(Out);
    return Fail(std::string(Out) + ": " + Wrong);
  }
  std::filesystem::permissions(Out,
                               std::filesystem::perms::owner_exec |
                                   std::filesystem::perms::group_exec |
                                   std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  return 0;
}
