// The simulated account: the fixed region, zone and instance-type data, and a
// small mutable model of instances and tasks per region that write actions
// change and Describe actions show.
//
// Not thread-safe: one World belongs to one Gateway, which serialises access.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::sim {

struct RegionInfo {
  std::string_view id;
  std::string_view local_name;  // UTF-8
  std::string_view zone_letters;
};

struct InstanceTypeInfo {
  std::string id;
  std::string family;
  int cpu = 0;
  double memory_gib = 0;
  int gpu_amount = 0;
  std::string gpu_spec;
  std::string local_storage;  // category, "" when none
  int local_storage_amount = 0;
  int local_storage_gib = 0;
  int eni_quantity = 0;
  std::string cpu_model;
};

struct FamilyInfo {
  std::string_view id;
  std::string_view generation;
};

struct Instance {
  std::string id;
  std::string name;
  std::string host_name;
  std::string description;
  std::string status;  // Running, Stopped, Starting, Stopping
  std::string region;
  std::string zone;
  std::string type;
  std::string family;
  int cpu = 0;
  int memory_mib = 0;
  std::string image_id;
  std::string vpc_id;
  std::string vswitch_id;
  std::string private_ip;
  std::string public_ip;
  std::string eip_allocation;
  std::string eip_ip;
  std::string security_group;
  std::string serial;
  std::string user_data;  // Base64
  std::string auto_release_time;
  std::string vnc_password;
  std::int64_t creation_ms = 0;
  std::uint64_t sequence = 0;  // 1, 2, 3... in creation order; never reused
  // While Starting or Stopping: the status it reaches, and when.
  std::string settles_to;
  std::int64_t settles_ms = 0;
};

struct Task {
  std::string id;
  std::string region;
  std::string action;  // ImportImage, ExportImage, CopyImage...
  std::string status;  // Finished, Processing, Cancelled
  bool support_cancel = false;
  std::int64_t creation_ms = 0;
  std::int64_t finished_ms = 0;  // 0 while unfinished
};

std::span<const RegionInfo> Regions();
const RegionInfo* FindRegion(std::string_view id);
// Zone ids of a region, e.g. "cn-hangzhou-b" or "ap-northeast-1a".
std::vector<std::string> ZonesOf(const RegionInfo& region);
// A zone's local name, e.g. "华东 1 可用区 B".
std::string ZoneLocalName(const RegionInfo& region, char letter);
const std::vector<InstanceTypeInfo>& InstanceTypes();
std::span<const FamilyInfo> InstanceTypeFamilies();

// The instances a World starts with. By default three in every region;
// otherwise `instances` in all, named "instance-000001"... in creation order,
// dealt round-robin over the regions (or only `region`) and over each
// region's zones. Either way the ids and the order are the same every run.
struct SeedPlan {
  std::optional<int> instances{};
  std::string region{};  // "" for every region
  static constexpr int kMaxInstances = 100000;
};

class World {
 public:
  // Seeds instances by the plan and a few tasks in every region; `now_ms`
  // dates them. Seeding is not held to the launch quota below.
  explicit World(std::int64_t now_ms, const SeedPlan& plan = {});

  // Instances of a region, in creation order.
  std::vector<const Instance*> InstancesIn(std::string_view region) const;
  Instance* FindInstance(std::string_view id);
  // Creates an instance; returns nullptr when the region is unknown or holds
  // kMaxInstancesPerRegion or more.
  Instance* CreateInstance(std::string_view region, std::string_view zone,
                           std::string_view image_id, std::string_view type,
                           std::string_view status, std::int64_t now_ms);
  bool DeleteInstance(std::string_view id);
  // Puts `instance` in `passing` status until `until_ms`, then in `final`.
  void BeginTransition(Instance& instance, std::string_view passing, std::string_view final,
                       std::int64_t until_ms);
  // Ends every transition due by `now_ms`.
  void Settle(std::int64_t now_ms);

  std::vector<const Task*> TasksIn(std::string_view region) const;
  Task* FindTask(std::string_view id);
  Task& CreateTask(std::string_view region, std::string_view action, std::int64_t now_ms);

  // Lower-case letters and digits, as ECS ids use.
  std::string RandomId(std::string_view prefix, std::size_t length = 20);

  // The launch quota: RunInstances and CreateInstance stop here.
  static constexpr std::size_t kMaxInstancesPerRegion = 1000;
  static constexpr std::size_t kMaxTasksPerRegion = 200;

 private:
  Instance& AddInstance(const RegionInfo& region, std::string_view zone, std::string_view image_id,
                        std::string_view type, std::string_view status, std::int64_t now_ms);
  void SeedDefault(const RegionInfo& region, std::int64_t now_ms);
  void SeedMany(std::int64_t now_ms, const SeedPlan& plan);
  void GiveElasticIp(Instance& instance);

  std::mt19937_64 random_{20140526};
  std::map<std::string, Instance, std::less<>> instances_;
  std::vector<Instance*> order_;  // into instances_, in creation order
  std::vector<Task> tasks_;
  std::uint64_t serial_ = 0;
  std::vector<std::string> unsettled_;  // ids of instances in transition
};

}  // namespace kestrune::sim
