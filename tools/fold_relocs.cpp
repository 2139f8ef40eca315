// fold_relocs: moves a PE32 or PE32+ image's base relocations out of their
// own .reloc section into the slack at the end of another read-only section,
// then packs the headers and section data again at the image's own file
// alignment.
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
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// The headers read here, each field by its offset from the header's start.

// The DOS header: only where the PE headers start.
namespace DosHeader {
enum { NewHeader = 0x3C, Size = 0x40 };
}
// The "PE\0\0" signature and the COFF file header after it.
namespace FileHeader {
enum { Signature = 0, SectionCount = 6, SymbolTable = 12, OptionalHeaderSize = 20, Size = 24 };
}
// The optional header, as far as its fields sit where they do in both
// formats.
namespace OptionalHeader {
enum {
  Magic = 0,
  InitializedData = 8,
  EntryPoint = 16,
  SectionAlignment = 32,
  FileAlignment = 36,
  ImageSize = 56,
  HeadersSize = 60,
  CheckSum = 64,
};
}
// A section header.
namespace SectionHeader {
enum {
  Name = 0,
  VirtualSize = 8,
  VirtualAddress = 12,
  RawSize = 16,
  RawPointer = 20,
  Characteristics = 36,
  Size = 40,
};
const uint32_t InitializedData = 0x40, Writable = 0x80000000u;
} // namespace SectionHeader
// A data directory entry, and the entries read, by index.
namespace DataDirectory {
enum { Address = 0, Bytes = 4, Size = 8 };
enum { CertificateTable = 4, BaseRelocationTable = 5, DebugDirectory = 6 };
} // namespace DataDirectory
// A block of base relocations: its header, then 2-byte entries, each a kind
// in the top 4 bits and an offset into the block's page in the low 12.
namespace RelocationBlock {
enum { Page = 0, BlockSize = 4, Size = 8 };
enum { Padding = 0 }; // IMAGE_REL_BASED_ABSOLUTE: moves nothing
} // namespace RelocationBlock

// Where PE32 and PE32+ differ, and all they differ in here.
struct FORMAT {
  const char *Name;
  uint32_t Magic;
  uint32_t AddressSize; // of the image base, and of each word a relocation moves
  uint32_t ImageBase, DirectoryCount, Directories; // in the optional header
  uint32_t Relocation;                             // the one kind of relocation the code uses
};
static const FORMAT Pe32 = {"PE32", 0x10B, 4, 28, 92, 96, 3 /* HIGHLOW */};
static const FORMAT Pe32Plus = {"PE32+", 0x20B, 8, 24, 108, 112, 10 /* DIR64 */};

// Every read is bounds-checked: a short or damaged image ends in a message,
// never in a read past the buffer.
static uint64_t Get(const Bytes &Image, uint64_t At, uint32_t Size) {
  if (At + Size > Image.size())
    throw std::runtime_error("the image is cut short");
  uint64_t Value = 0;
  for (uint32_t I = Size; I-- > 0;)
    Value = Value << 8 | Image[At + I];
  return Value;
}

static uint32_t Get32(const Bytes &Image, uint64_t At) {
  return (uint32_t)Get(Image, At, 4);
}

static void Put(Bytes &Image, uint64_t At, uint32_t Size, uint64_t Value) {
  if (At + Size > Image.size())
    throw std::runtime_error("the image is cut short");
  for (uint32_t I = 0; I < Size; I++, Value >>= 8)
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

// Where the headers of an image lie, and its format.
struct LAYOUT {
  const FORMAT *Format;
  uint64_t File, Optional, Table;
  uint32_t Sections, FileAlign, SectionAlign, DirectoryCount;
  uint64_t Section(uint32_t I) const {
    return Table + (uint64_t)I * SectionHeader::Size;
  }
  uint64_t Directory(uint32_t I) const {
    return Optional + Format->Directories + (uint64_t)I * DataDirectory::Size;
  }
  uint64_t ImageBase() const {
    return Optional + Format->ImageBase;
  }
};

static LAYOUT Locate(const Bytes &Image) {
  if (Image.size() < DosHeader::Size || Image[0] != 'M' || Image[1] != 'Z')
    throw std::runtime_error("not an MZ image");
  LAYOUT L;
  L.File = Get32(Image, DosHeader::NewHeader);
  L.Optional = L.File + FileHeader::Size;
  if (Get32(Image, L.File + FileHeader::Signature) != 0x4550) // "PE\0\0"
    throw std::runtime_error("not a PE image");
  uint32_t Magic = (uint32_t)Get(Image, L.Optional + OptionalHeader::Magic, 2);
  L.Format = Magic == Pe32.Magic ? &Pe32 : Magic == Pe32Plus.Magic ? &Pe32Plus : nullptr;
  if (!L.Format)
    throw std::runtime_error("neither a PE32 nor a PE32+ image");
  L.Table = L.Optional + Get(Image, L.File + FileHeader::OptionalHeaderSize, 2);
  L.Sections = (uint32_t)Get(Image, L.File + FileHeader::SectionCount, 2);
  L.FileAlign = Get32(Image, L.Optional + OptionalHeader::FileAlignment);
  L.SectionAlign = Get32(Image, L.Optional + OptionalHeader::SectionAlignment);
  L.DirectoryCount = std::min<uint32_t>(Get32(Image, L.Optional + L.Format->DirectoryCount), 16);
  if (L.FileAlign < 512 || (L.FileAlign & (L.FileAlign - 1)) != 0 || L.SectionAlign < L.FileAlign ||
      (L.SectionAlign & (L.SectionAlign - 1)) != 0)
    throw std::runtime_error("the file or section alignment is not one a loader takes");
  if (L.Sections == 0 || L.Directory(L.DirectoryCount) > L.Table)
    throw std::runtime_error("the headers don't hold together");
  if (L.Section(L.Sections) > Image.size())
    throw std::runtime_error("the image is cut short");
  return L;
}

// The section whose addresses hold Size bytes from Address, as far as the
// section's size field (VirtualSize or RawSize) reaches; -1 when none does.
static int SectionHolding(const Bytes &Image, const LAYOUT &L, uint64_t Address, uint64_t Size,
                          int SizeField) {
  for (uint32_t I = 0; I < L.Sections; I++) {
    uint64_t Start = Get32(Image, L.Section(I) + SectionHeader::VirtualAddress);
    if (Address >= Start && Address + Size <= Start + Get32(Image, L.Section(I) + SizeField))
      return (int)I;
  }
  return -1;
}

// The file offset of an address in the image, where a section has its bytes.
static uint64_t OffsetOf(const Bytes &Image, const LAYOUT &L, uint64_t Address, uint32_t Size) {
  int I = SectionHolding(Image, L, Address, Size, SectionHeader::RawSize);
  if (I < 0)
    throw std::runtime_error("an address has no bytes in the file");
  return Get32(Image, L.Section(I) + SectionHeader::RawPointer) + Address -
         Get32(Image, L.Section(I) + SectionHeader::VirtualAddress);
}

// Walks the base relocation table as a loader does, calling Move with the
// file offset of each word a relocation moves. A table a loader would refuse
// is refused here.
static void EachRelocation(const Bytes &Image, const LAYOUT &L,
                           const std::function<void(uint64_t)> &Move) {
  uint64_t Directory = L.Directory(DataDirectory::BaseRelocationTable);
  uint64_t Table = Get32(Image, Directory + DataDirectory::Address);
  uint64_t End = Table + Get32(Image, Directory + DataDirectory::Bytes);
  while (Table < End) {
    uint64_t Block = OffsetOf(Image, L, Table, RelocationBlock::Size);
    uint32_t Page = Get32(Image, Block + RelocationBlock::Page);
    uint32_t Size = Get32(Image, Block + RelocationBlock::BlockSize);
    if (Size < RelocationBlock::Size || Size % 4 != 0)
      throw std::runtime_error("a relocation block's size is not a whole number of words");
    if (Table + Size > End)
      throw std::runtime_error("a relocation block runs past the relocation table");
    Block = OffsetOf(Image, L, Table, Size);
    for (uint32_t At = RelocationBlock::Size; At < Size; At += 2) {
      uint32_t Entry = (uint32_t)Get(Image, Block + At, 2);
      if (Entry >> 12 == RelocationBlock::Padding)
        continue;
      if (Entry >> 12 != L.Format->Relocation)
        throw std::runtime_error(std::string("a relocation of a kind ") + L.Format->Name +
                                 " code doesn't use");
      Move(OffsetOf(Image, L, (uint64_t)Page + (Entry & 0xFFF), L.Format->AddressSize));
    }
    Table += Size;
  }
}

// The rules a loader holds an image to, as far as folding can break them.
// Returns what is wrong, or an empty string.
static std::string CheckLayout(const Bytes &Image) {
  using namespace SectionHeader;
  try {
    LAYOUT L = Locate(Image);
    uint64_t Headers = Get32(Image, L.Optional + OptionalHeader::HeadersSize);
    if (Headers != AlignUp(L.Section(L.Sections), L.FileAlign) || Headers > Image.size())
      return "SizeOfHeaders is not the section table's end, rounded to the file alignment";
    uint64_t NextAddress = AlignUp(Headers, L.SectionAlign), NextRaw = Headers;
    for (uint32_t I = 0; I < L.Sections; I++) {
      std::string Section = "section " + std::to_string(I);
      uint64_t At = L.Section(I);
      uint64_t Address = Get32(Image, At + VirtualAddress), Size = Get32(Image, At + VirtualSize);
      uint64_t Raw = Get32(Image, At + RawPointer), RawBytes = Get32(Image, At + RawSize);
      if (Address != NextAddress)
        return Section + " doesn't follow the one before it in memory";
      if (RawBytes != 0) {
        if (Raw % L.FileAlign != 0)
          return Section + "'s data doesn't start on the file alignment";
        if (RawBytes % L.FileAlign != 0)
          return Section + "'s data isn't a whole number of file-alignment blocks";
        if (Raw < NextRaw)
          return Section + "'s data overlaps the headers or the section before it";
        if (Raw + RawBytes > Image.size())
          return Section + "'s data runs past the file";
        NextRaw = Raw + RawBytes;
      }
      NextAddress = AlignUp(Address + std::max(Size, RawBytes), L.SectionAlign);
    }
    if (Get32(Image, L.Optional + OptionalHeader::ImageSize) != NextAddress)
      return "SizeOfImage is not the end of the last section";
    if (NextRaw != Image.size())
      return "the file holds bytes that no section owns";

    // Every directory but the certificate table (a file offset) lies whole
    // inside one section, and the entry point inside one.
    auto Inside = [&](uint64_t Address, uint64_t Size) {
      return SectionHolding(Image, L, Address, Size, VirtualSize) >= 0;
    };
    for (uint32_t I = 0; I < L.DirectoryCount; I++) {
      uint64_t Address = Get32(Image, L.Directory(I) + DataDirectory::Address);
      uint64_t Size = Get32(Image, L.Directory(I) + DataDirectory::Bytes);
      if (I != DataDirectory::CertificateTable && Size != 0 && !Inside(Address, Size))
        return "data directory " + std::to_string(I) + " is not inside a section";
    }
    if (!Inside(Get32(Image, L.Optional + OptionalHeader::EntryPoint), 1))
      return "the entry point is not inside a section";
    EachRelocation(Image, L, [](uint64_t) {});
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
  using namespace SectionHeader;
  LAYOUT L = Locate(Image);
  if (Get32(Image, L.File + FileHeader::SymbolTable) != 0)
    throw std::runtime_error("the image still has a symbol table; strip it first");
  // These directories point at file offsets, which the new layout would move.
  for (uint32_t Index : {DataDirectory::CertificateTable, DataDirectory::DebugDirectory})
    if (Index < L.DirectoryCount && Get32(Image, L.Directory(Index) + DataDirectory::Bytes) != 0)
      throw std::runtime_error(Index == DataDirectory::CertificateTable
                                   ? "the image is signed (a certificate table)"
                                   : "the image has a debug directory");

  // Each section's header and raw data, as they stand.
  struct SECTION {
    Bytes Header, Data;
  };
  std::vector<SECTION> All;
  int Relocs = -1, Target = -1;
  for (uint32_t I = 0; I < L.Sections; I++) {
    uint64_t At = L.Section(I);
    SECTION S;
    S.Header.assign(Image.begin() + At, Image.begin() + At + SectionHeader::Size);
    uint64_t Raw = Get32(S.Header, RawPointer), Size = Get32(S.Header, RawSize);
    if (Raw + Size > Image.size())
      throw std::runtime_error("a section runs past the end of the file");
    S.Data.assign(Image.begin() + Raw, Image.begin() + Raw + Size);
    if (std::memcmp(&S.Header[Name], ".reloc\0", 8) == 0)
      Relocs = (int)I;
    if (std::strncmp((const char *)&S.Header[Name], Into, 8) == 0)
      Target = (int)I;
    All.push_back(S);
  }
  if (Relocs < 0 || Target < 0)
    throw std::runtime_error("no .reloc section, or no section to fold it into");
  // Taking a section out of the middle would leave a hole in the image.
  if (Relocs != (int)L.Sections - 1)
    throw std::runtime_error(".reloc is not the last section");

  SECTION &From = All[Relocs], &To = All[Target];
  uint64_t Directory = L.Directory(DataDirectory::BaseRelocationTable);
  uint32_t RelocsAt = Get32(Image, Directory + DataDirectory::Address);
  uint32_t RelocsSize = Get32(Image, Directory + DataDirectory::Bytes);
  if (RelocsAt != Get32(From.Header, VirtualAddress) || RelocsSize > From.Data.size())
    throw std::runtime_error("the base relocation directory is not the .reloc section");
  if (Get32(To.Header, Characteristics) & Writable)
    throw std::runtime_error("the target section is writable");

  // Append the relocation blocks, 4-byte aligned, to the target's contents,
  // without reaching into the next section's addresses.
  uint32_t Start = Fit(AlignUp(Get32(To.Header, VirtualSize), 4));
  uint32_t End = Fit((uint64_t)Start + RelocsSize);
  uint32_t ToAddress = Get32(To.Header, VirtualAddress);
  uint64_t Room = AlignUp((uint64_t)ToAddress + End, L.SectionAlign);
  for (const SECTION &S : All)
    if (&S != &From && Get32(S.Header, VirtualAddress) > ToAddress &&
        Get32(S.Header, VirtualAddress) < Room)
      throw std::runtime_error("no room for the relocations after the target section");
  To.Data.resize(std::max<size_t>(To.Data.size(), Fit(AlignUp(End, L.FileAlign))), 0);
  std::memcpy(&To.Data[Start], &From.Data[0], RelocsSize);
  Put(To.Header, VirtualSize, 4, End);
  Put(To.Header, RawSize, 4, To.Data.size());
  Put(Image, Directory + DataDirectory::Address, 4, Fit((uint64_t)ToAddress + Start));
  All.erase(All.begin() + Relocs);

  // Lay the file out again: the headers, then each section's data in turn.
  uint32_t Sections = (uint32_t)All.size();
  uint32_t Headers = Fit(AlignUp(L.Section(Sections), L.FileAlign));
  Bytes Out(Image.begin(), Image.begin() + L.Table);
  Out.resize(Headers, 0);
  uint64_t Offset = Headers, Initialized = 0, Extent = 0;
  for (uint32_t I = 0; I < Sections; I++) {
    SECTION &S = All[I];
    Put(S.Header, RawPointer, 4, S.Data.empty() ? 0 : Fit(Offset));
    std::memcpy(&Out[L.Section(I)], &S.Header[0], SectionHeader::Size);
    Out.insert(Out.end(), S.Data.begin(), S.Data.end());
    Offset += S.Data.size();
    if (Get32(S.Header, Characteristics) & SectionHeader::InitializedData)
      Initialized += S.Data.size();
    Extent = std::max<uint64_t>(Extent, (uint64_t)Get32(S.Header, VirtualAddress) +
                                            Get32(S.Header, VirtualSize));
  }
  Put(Out, L.File + FileHeader::SectionCount, 2, Sections);
  Put(Out, L.Optional + OptionalHeader::HeadersSize, 4, Headers);
  Put(Out, L.Optional + OptionalHeader::InitializedData, 4, Fit(Initialized));
  Put(Out, L.Optional + OptionalHeader::ImageSize, 4, Fit(AlignUp(Extent, L.SectionAlign)));
  Put(Out, L.Optional + OptionalHeader::CheckSum, 4, 0);
  Image.swap(Out);
}

// Applies the base relocation table for a move to Base, as a loader does.
static void Rebase(Bytes &Image, uint64_t Base) {
  LAYOUT L = Locate(Image);
  uint32_t Width = L.Format->AddressSize;
  if (Width == 4)
    Base = Fit(Base);
  uint64_t Delta = Base - Get(Image, L.ImageBase(), Width);
  // The table is walked as the image was: a word moved may lie in it.
  Bytes Moved = Image;
  EachRelocation(Image, L,
                 [&](uint64_t Word) { Put(Moved, Word, Width, Get(Moved, Word, Width) + Delta); });
  Put(Moved, L.ImageBase(), Width, Base);
  Image.swap(Moved);
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
      Rebase(Image, std::stoull(Arguments[4], nullptr, 0));
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
