#include "cli/error_codes.h"

namespace cli {

namespace {
using H = hive::ErrorCode;
using S = SourceError;
constexpr Reach all = Reach::everywhere;
}  // namespace

// In the order the lists give them.
const ErrorCodeInfo kErrorCodes[] = {
    {H::cannotOpen, nullptr, "", all, "the file or folder could not be opened"},
    {H::notAFile, nullptr, "", all, "a pipe or a device, not a regular file"},
    {H::inUse, nullptr, "", all, "held open by a running Windows"},
    {H::notARegistryFile, nullptr, "", all, "not a registry hive file"},
    {H::truncated, nullptr, "", all, "the file ends before its data"},
    {H::readError, nullptr, "", all, "the system failed a read (a failing disk)"},
    {H::unsupportedVersion, nullptr, "", all, "a hive format version not known"},
    {H::corrupt, nullptr, "hive files", all, "a structure of the hive is damaged"},
    {S::noHiveFound, "no-hive-found", "--windows, --image", all, "the tree holds no SOFTWARE hive"},
    {S::notADiskImage, "not-a-disk-image", "", Reach::images,
     "no image format, partition table or file system"},
    {S::noNtfsVolume, "no-ntfs-volume", "", Reach::images, "no volume of the image is NTFS"},
    {S::encryptedVolume, "encrypted-volume", "", Reach::images,
     "a BitLocker volume, to be unlocked first"},
    {S::damagedImage, "damaged-image", "", Reach::images,
     "the image cannot be read as it declares itself (cut short, for one)"},
    {S::brokenSnapshotChain, "broken-snapshot-chain", "", Reach::images,
     "a snapshot whose parent is missing or another disk, or a chain that loops"},
    {S::noImageSupport, "no-image-support", "--image", Reach::images,
     "the image support package is not installed"},
    {S::cannotConnect, "cannot-connect", "", Reach::registries,
     "the machine's registry could not be reached"},
    {S::accessDenied, "access-denied", "", Reach::registries, "the registry refused access"},
    {S::registryError, "registry-error", "registries", Reach::registries,
     "the registry failed otherwise"},
    {S::valueTooShort, "value-too-short", "invalid records", all,
     "the value is too short to hold a key"},
};
const std::size_t kErrorCodeCount = sizeof kErrorCodes / sizeof kErrorCodes[0];

const char* nameOf(const ErrorCodeInfo& code) {
  if (const auto* own = std::get_if<hive::ErrorCode>(&code.code)) return hive::errorCodeName(*own);
  return code.ownName;
}

}  // namespace cli
