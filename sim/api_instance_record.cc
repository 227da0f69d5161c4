// One instance as DescribeInstances lists it: the record is a table of
// fields, most of them constant, the rest read from the instance.
#include <iterator>

#include "sim/api_internal.h"
#include "sim/clock.h"

namespace kestrune::sim {
namespace {

// One element of a DescribeInstances record: a scalar that is constant or
// read from the instance, or an object or list of further fields. The fields
// of a list are its items, which take the list's item name.
struct RecordField {
  enum class Kind { kText, kNumber, kBool, kObject, kList };

  Kind kind;
  std::string_view name;
  std::string_view text = {};                     // kText: the constant; kList: the item name
  std::int64_t number = 0;                        // kNumber, kBool: the constant
  const std::string Instance::*member = nullptr;  // kText read as it is
  std::string (*text_of)(const Instance&) = nullptr;
  std::int64_t (*number_of)(const Instance&) = nullptr;
  bool (*present)(const Instance&) = nullptr;  // when set, shown only if true
  std::span<const RecordField> fields = {};    // kObject, kList
};

using Kind = RecordField::Kind;

constexpr RecordField Text(std::string_view name, std::string_view text) {
  return {.kind = Kind::kText, .name = name, .text = text};
}
constexpr RecordField Member(std::string_view name, const std::string Instance::*member) {
  return {.kind = Kind::kText, .name = name, .member = member};
}
constexpr RecordField TextOf(std::string_view name, std::string (*text_of)(const Instance&)) {
  return {.kind = Kind::kText, .name = name, .text_of = text_of};
}
constexpr RecordField Number(std::string_view name, std::int64_t number) {
  return {.kind = Kind::kNumber, .name = name, .number = number};
}
constexpr RecordField NumberOf(std::string_view name, std::int64_t (*number_of)(const Instance&)) {
  return {.kind = Kind::kNumber, .name = name, .number_of = number_of};
}
constexpr RecordField Flag(std::string_view name, bool value) {
  return {.kind = Kind::kBool, .name = name, .number = value ? 1 : 0};
}
constexpr RecordField Object(std::string_view name, std::span<const RecordField> fields) {
  return {.kind = Kind::kObject, .name = name, .fields = fields};
}
constexpr RecordField List(std::string_view name, std::string_view item,
                           std::span<const RecordField> items) {
  return {.kind = Kind::kList, .name = name, .text = item, .fields = items};
}
constexpr RecordField When(RecordField field, bool (*present)(const Instance&)) {
  field.present = present;
  return field;
}

bool HasEip(const Instance& in) { return !in.eip_ip.empty(); }

// The system's name follows the image's family; the last row is the default.
struct OsName {
  std::string_view image_prefix;
  std::string_view name;
  std::string_view name_en;
};

constexpr OsName kOsNames[] = {
    {"ubuntu", "Ubuntu  22.04 64位", "Ubuntu  22.04 64 bit"},
    {"centos", "CentOS  7.9 64位", "CentOS  7.9 64 bit"},
    {"", "Alibaba Cloud Linux  3.2104 LTS 64位", "Alibaba Cloud Linux  3.2104 LTS 64 bit"},
};

const OsName& OsOf(const Instance& in) {
  return *std::find_if(std::begin(kOsNames), std::end(kOsNames) - 1,
                       [&](const OsName& os) { return in.image_id.starts_with(os.image_prefix); });
}

constexpr RecordField kEip[] = {
    Member("IpAddress", &Instance::eip_ip),
    Member("AllocationId", &Instance::eip_allocation),
    TextOf("InternetChargeType",
           [](const Instance& in) -> std::string { return HasEip(in) ? "PayByTraffic" : ""; }),
    NumberOf("Bandwidth", [](const Instance& in) -> std::int64_t { return HasEip(in) ? 5 : 0; }),
    Flag("IsSupportUnassociate", true),
};

constexpr RecordField kPrivateIp[] = {Member("", &Instance::private_ip)};

constexpr RecordField kVpc[] = {
    Text("NatIpAddress", ""),
    List("PrivateIpAddress", "IpAddress", kPrivateIp),
    Member("VSwitchId", &Instance::vswitch_id),
    Member("VpcId", &Instance::vpc_id),
};

constexpr RecordField kSecurityGroups[] = {Member("", &Instance::security_group)};

// An instance with an elastic IP shows that address instead of a public one.
constexpr RecordField kPublicIp[] = {
    When(Member("", &Instance::public_ip), [](const Instance& in) { return !HasEip(in); }),
};

constexpr RecordField kCpuOptions[] = {
    NumberOf("CoreCount",
             [](const Instance& in) -> std::int64_t { return std::max(1, in.cpu / 2); }),
    NumberOf("ThreadsPerCore",
             [](const Instance& in) -> std::int64_t { return in.cpu > 1 ? 2 : 1; }),
    Text("Numa", "ON"),
};

constexpr RecordField kMetadataOptions[] = {
    Text("HttpEndpoint", "enabled"),
    Text("HttpTokens", "optional"),
};

constexpr RecordField kHibernationOptions[] = {Flag("Configured", false)};

constexpr RecordField kDedicatedHost[] = {
    Text("DedicatedHostId", ""),
    Text("DedicatedHostName", ""),
    Text("DedicatedHostClusterId", ""),
};

constexpr RecordField kPrimaryIpSet[] = {
    Member("PrivateIpAddress", &Instance::private_ip),
    Flag("Primary", true),
};

constexpr RecordField kPrivateIpSets[] = {Object("", kPrimaryIpSet)};

constexpr RecordField kPrimaryInterface[] = {
    Text("Type", "Primary"),
    TextOf("MacAddress",
           [](const Instance& in) -> std::string {
             return "00:16:3e:" + in.id.substr(2, 2) + ":" + in.id.substr(4, 2) + ":" +
                    in.id.substr(6, 2);
           }),
    Member("PrimaryIpAddress", &Instance::private_ip),
    TextOf("NetworkInterfaceId",
           [](const Instance& in) -> std::string { return "eni-" + in.id.substr(2); }),
    List("PrivateIpSets", "PrivateIpSet", kPrivateIpSets),
};

constexpr RecordField kNetworkInterfaces[] = {Object("", kPrimaryInterface)};

constexpr RecordField kTag[] = {Text("TagKey", "env"), Text("TagValue", "simulated")};

constexpr RecordField kTags[] = {Object("", kTag)};

// One instance as DescribeInstances shows it, in the service's element order.
constexpr RecordField kInstanceRecord[] = {
    Member("ImageId", &Instance::image_id),
    Member("InstanceTypeFamily", &Instance::family),
    Text("VlanId", ""),
    Member("InstanceId", &Instance::id),
    Object("EipAddress", kEip),
    Number("InternetMaxBandwidthIn", 100),
    Member("ZoneId", &Instance::zone),
    Text("InternetChargeType", "PayByTraffic"),
    Text("SpotStrategy", "NoSpot"),
    TextOf("StoppedMode",
           [](const Instance& in) -> std::string {
             return in.status == "Stopped" ? "KeepCharging" : "Not-applicable";
           }),
    Member("SerialNumber", &Instance::serial),
    Flag("IoOptimized", true),
    NumberOf("Memory", [](const Instance& in) -> std::int64_t { return in.memory_mib; }),
    NumberOf("Cpu", [](const Instance& in) -> std::int64_t { return in.cpu; }),
    Object("VpcAttributes", kVpc),
    Number("InternetMaxBandwidthOut", 5),
    Flag("DeviceAvailable", true),
    List("SecurityGroupIds", "SecurityGroupId", kSecurityGroups),
    Text("SaleCycle", ""),
    Member("AutoReleaseTime", &Instance::auto_release_time),
    Member("InstanceName", &Instance::name),
    Member("Description", &Instance::description),
    Text("OSType", "linux"),
    TextOf("OSName", [](const Instance& in) { return std::string(OsOf(in).name); }),
    TextOf("OSNameEn", [](const Instance& in) { return std::string(OsOf(in).name_en); }),
    Text("InstanceNetworkType", "vpc"),
    List("PublicIpAddress", "IpAddress", kPublicIp),
    Member("HostName", &Instance::host_name),
    Member("InstanceType", &Instance::type),
    TextOf("CreationTime",
           [](const Instance& in) { return FormatMinuteTimestamp(in.creation_ms); }),
    TextOf("StartTime",
           [](const Instance& in) { return FormatMinuteTimestamp(in.creation_ms + 60000); }),
    Member("Status", &Instance::status),
    Text("ClusterId", ""),
    Member("RegionId", &Instance::region),
    Text("GPUSpec", ""),
    Text("InstanceChargeType", "PostPaid"),
    Number("GPUAmount", 0),
    Text("ExpiredTime", "2099-12-31T15:59Z"),
    List("InnerIpAddress", "IpAddress", {}),
    Text("KeyPairName", ""),
    Text("DeploymentSetId", ""),
    Text("ResourceGroupId", "rg-acfmsimdefault01"),
    Text("CreditSpecification", ""),
    Flag("Recyclable", false),
    Text("DeletionProtection", "false"),
    Number("LocalStorageCapacity", 0),
    Number("LocalStorageAmount", 0),
    List("OperationLocks", "LockReason", {}),
    Object("CpuOptions", kCpuOptions),
    Object("MetadataOptions", kMetadataOptions),
    Object("HibernationOptions", kHibernationOptions),
    Object("DedicatedHostAttribute", kDedicatedHost),
    List("NetworkInterfaces", "NetworkInterface", kNetworkInterfaces),
    List("Tags", "Tag", kTags),
};

void AddFields(Node& parent, std::span<const RecordField> fields, const Instance& in) {
  const bool items = parent.kind() == Node::Kind::kList;
  for (const RecordField& field : fields) {
    if (field.present != nullptr && !field.present(in)) continue;
    std::string name(field.name);
    switch (field.kind) {
      case Kind::kText: {
        std::string value = field.member != nullptr    ? in.*field.member
                            : field.text_of != nullptr ? field.text_of(in)
                                                       : std::string(field.text);
        if (items) {
          parent.Item(std::move(value));
        } else {
          parent.Str(std::move(name), std::move(value));
        }
        break;
      }
      case Kind::kNumber:
        parent.Num(std::move(name),
                   field.number_of != nullptr ? field.number_of(in) : field.number);
        break;
      case Kind::kBool:
        parent.Bool(std::move(name), field.number != 0);
        break;
      case Kind::kObject:
        if (items) {
          AddFields(parent.NewItem(), field.fields, in);
        } else {
          Node object = Node::Object(std::move(name));
          AddFields(object, field.fields, in);
          parent.Add(std::move(object));
        }
        break;
      case Kind::kList: {
        Node list = Node::List(std::move(name), std::string(field.text));
        AddFields(list, field.fields, in);
        parent.Add(std::move(list));
        break;
      }
    }
  }
}

}  // namespace

void AddInstanceRecord(Node& list, const Instance& instance) {
  AddFields(list.NewItem(), kInstanceRecord, instance);
}

}  // namespace kestrune::sim
