#include "sim/world.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/signature.h"

namespace kestrune::sim {
namespace {

constexpr std::array<RegionInfo, 28> kRegions = {{
    {"cn-qingdao", "华北1（青岛）", "bc"},
    {"cn-beijing", "华北2（北京）", "acdefghijkl"},
    {"cn-zhangjiakou", "华北3（张家口）", "abc"},
    {"cn-huhehaote", "华北5（呼和浩特）", "ab"},
    {"cn-wulanchabu", "华北6（乌兰察布）", "abc"},
    {"cn-hangzhou", "华东1（杭州）", "bghijk"},
    {"cn-shanghai", "华东2（上海）", "abefglmn"},
    {"cn-nanjing", "华东5（南京-本地地域）", "a"},
    {"cn-fuzhou", "华东6（福州-本地地域）", "a"},
    {"cn-shenzhen", "华南1（深圳）", "acdef"},
    {"cn-heyuan", "华南2（河源）", "ab"},
    {"cn-guangzhou", "华南3（广州）", "ab"},
    {"cn-chengdu", "西南1（成都）", "ab"},
    {"cn-hongkong", "中国香港", "bcd"},
    {"ap-northeast-1", "日本（东京）", "abc"},
    {"ap-northeast-2", "韩国（首尔）", "a"},
    {"ap-southeast-1", "新加坡", "abc"},
    {"ap-southeast-2", "澳大利亚（悉尼）", "ab"},
    {"ap-southeast-3", "马来西亚（吉隆坡）", "ab"},
    {"ap-southeast-5", "印度尼西亚（雅加达）", "abc"},
    {"ap-southeast-6", "菲律宾（马尼拉）", "a"},
    {"ap-southeast-7", "泰国（曼谷）", "a"},
    {"us-east-1", "美国（弗吉尼亚）", "ab"},
    {"us-west-1", "美国（硅谷）", "ab"},
    {"eu-west-1", "英国（伦敦）", "ab"},
    {"eu-central-1", "欧洲中部 1（法兰克福）", "abc"},
    {"me-east-1", "阿联酋（迪拜）", "a"},
    {"me-central-1", "沙特（利雅得）", "a"},
}};

struct FamilySpec {
  std::string_view id;
  std::string_view generation;
  double gib_per_cpu;
  int smallest;  // index into kSizes of the smallest size offered
  int largest;   // index of the largest
  std::string_view gpu_spec;
  std::string_view local_storage;
  std::string_view cpu_model;
};

struct SizeSpec {
  std::string_view suffix;
  int cpu;
};

constexpr SizeSpec kSizes[] = {{"small", 1},     {"large", 2},     {"xlarge", 4},
                               {"2xlarge", 8},   {"3xlarge", 12},  {"4xlarge", 16},
                               {"6xlarge", 24},  {"8xlarge", 32},  {"12xlarge", 48},
                               {"16xlarge", 64}, {"24xlarge", 96}, {"32xlarge", 128}};

constexpr std::string_view kXeon8 = "Intel Xeon(Sapphire Rapids) Platinum 8475B";
constexpr std::string_view kXeon7 = "Intel Xeon(Ice Lake) Platinum 8369B";
constexpr std::string_view kXeon6 = "Intel Xeon(Cascade Lake) Platinum 8269CY";
constexpr std::string_view kXeon5 = "Intel Xeon(Skylake) Platinum 8163";
constexpr std::string_view kAmd = "AMD EPYC Genoa 9T24";
constexpr std::string_view kYitian = "T-HEAD Yitian 710";

constexpr FamilySpec kFamilies[] = {
    {"ecs.g8i", "ecs-6", 4, 1, 11, "", "", kXeon8},
    {"ecs.c8i", "ecs-6", 2, 1, 11, "", "", kXeon8},
    {"ecs.r8i", "ecs-6", 8, 1, 11, "", "", kXeon8},
    {"ecs.g8a", "ecs-6", 4, 1, 11, "", "", kAmd},
    {"ecs.c8a", "ecs-6", 2, 1, 11, "", "", kAmd},
    {"ecs.r8a", "ecs-6", 8, 1, 11, "", "", kAmd},
    {"ecs.g8y", "ecs-6", 4, 1, 11, "", "", kYitian},
    {"ecs.c8y", "ecs-6", 2, 1, 11, "", "", kYitian},
    {"ecs.r8y", "ecs-6", 8, 1, 11, "", "", kYitian},
    {"ecs.g7", "ecs-5", 4, 1, 11, "", "", kXeon7},
    {"ecs.c7", "ecs-5", 2, 1, 11, "", "", kXeon7},
    {"ecs.r7", "ecs-5", 8, 1, 11, "", "", kXeon7},
    {"ecs.g7a", "ecs-5", 4, 1, 11, "", "", kAmd},
    {"ecs.c7a", "ecs-5", 2, 1, 11, "", "", kAmd},
    {"ecs.r7a", "ecs-5", 8, 1, 11, "", "", kAmd},
    {"ecs.g7ne", "ecs-5", 4, 1, 10, "", "", kXeon7},
    {"ecs.hfg7", "ecs-5", 4, 1, 9, "", "", kXeon7},
    {"ecs.hfc7", "ecs-5", 2, 1, 9, "", "", kXeon7},
    {"ecs.hfr7", "ecs-5", 8, 1, 9, "", "", kXeon7},
    {"ecs.g6", "ecs-4", 4, 1, 9, "", "", kXeon6},
    {"ecs.c6", "ecs-4", 2, 1, 9, "", "", kXeon6},
    {"ecs.r6", "ecs-4", 8, 1, 9, "", "", kXeon6},
    {"ecs.g6e", "ecs-4", 4, 1, 10, "", "", kXeon6},
    {"ecs.c6e", "ecs-4", 2, 1, 10, "", "", kXeon6},
    {"ecs.r6e", "ecs-4", 8, 1, 10, "", "", kXeon6},
    {"ecs.g6a", "ecs-4", 4, 1, 11, "", "", kAmd},
    {"ecs.c6a", "ecs-4", 2, 1, 11, "", "", kAmd},
    {"ecs.r6a", "ecs-4", 8, 1, 11, "", "", kAmd},
    {"ecs.re6", "ecs-4", 16, 8, 11, "", "", kXeon6},
    {"ecs.g5", "ecs-3", 4, 1, 9, "", "", kXeon5},
    {"ecs.c5", "ecs-3", 2, 1, 9, "", "", kXeon5},
    {"ecs.r5", "ecs-3", 8, 1, 9, "", "", kXeon5},
    {"ecs.ic5", "ecs-3", 1, 1, 9, "", "", kXeon5},
    {"ecs.hfc6", "ecs-4", 2, 1, 7, "", "", kXeon6},
    {"ecs.hfg6", "ecs-4", 4, 1, 7, "", "", kXeon6},
    {"ecs.t6", "ecs-4", 1, 0, 4, "", "", kXeon6},
    {"ecs.t5", "ecs-3", 1, 0, 4, "", "", kXeon5},
    {"ecs.i3", "ecs-5", 8, 2, 9, "", "local_ssd_pro", kXeon7},
    {"ecs.i2", "ecs-3", 8, 2, 9, "", "local_ssd_pro", kXeon5},
    {"ecs.d2s", "ecs-4", 4, 3, 10, "", "local_hdd_pro", kXeon6},
    {"ecs.d1ne", "ecs-2", 4, 3, 9, "", "local_hdd_pro", kXeon5},
    {"ecs.gn7i", "ecs-5", 4, 5, 10, "NVIDIA A10", "", kXeon7},
    {"ecs.gn6i", "ecs-4", 4, 2, 9, "NVIDIA T4", "", kXeon6},
    {"ecs.gn6v", "ecs-4", 4, 3, 9, "NVIDIA V100", "", kXeon6},
    {"ecs.gn6e", "ecs-4", 8, 3, 9, "NVIDIA V100", "", kXeon6},
    {"ecs.vgn6i", "ecs-4", 4, 2, 7, "NVIDIA T4/4", "", kXeon6},
};

std::vector<InstanceTypeInfo> BuildInstanceTypes() {
  std::vector<InstanceTypeInfo> types;
  for (const FamilySpec& family : kFamilies) {
    for (int s = family.smallest; s <= family.largest; ++s) {
      const SizeSpec& size = kSizes[s];
      InstanceTypeInfo t;
      t.id = std::string(family.id) + "." + std::string(size.suffix);
      t.family = family.id;
      t.cpu = size.cpu;
      t.memory_gib = family.gib_per_cpu * size.cpu;
      if (family.id == "ecs.t5" || family.id == "ecs.t6")
        t.memory_gib = size.cpu == 1 ? 0.5 : size.cpu;
      t.gpu_spec = family.gpu_spec;
      t.gpu_amount = family.gpu_spec.empty() ? 0 : std::max(1, size.cpu / 8);
      t.local_storage = family.local_storage;
      if (!t.local_storage.empty()) {
        t.local_storage_amount = std::max(1, size.cpu / 4);
        t.local_storage_gib = family.local_storage == "local_hdd_pro" ? 5905 : 1788;
      }
      t.eni_quantity = std::min(15, 2 + size.cpu / 4);
      t.cpu_model = family.cpu_model;
      types.push_back(std::move(t));
    }
  }
  return types;
}

std::string Ip(int a, int b, int c, int d) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%d.%d.%d.%d", a, b, c, d);
  return buffer;
}

constexpr std::int64_t kDay = 86400000;

struct InstanceSeed {
  std::string_view name;
  std::string_view type;
  std::string_view status;
  std::string_view image;
};
constexpr InstanceSeed kInstanceSeeds[] = {
    {"web-01", "ecs.g7.large", "Running", "aliyun_3_x64_20G_alibase_20240819.vhd"},
    {"app-01", "ecs.c7.xlarge", "Running", "ubuntu_22_04_x64_20G_alibase_20240812.vhd"},
    {"db-01", "ecs.r7.2xlarge", "Stopped", "centos_7_9_x64_20G_alibase_20240628.vhd"},
};

// Two image tasks long finished and a copy still running.
struct TaskSeed {
  std::string_view action;
  std::int64_t age_ms;
  std::int64_t minutes_to_finish;  // 0: still processing
};
constexpr TaskSeed kTaskSeeds[] = {
    {"ImportImage", 3 * kDay, 12},
    {"ExportImage", 2 * kDay, 7},
    {"CopyImage", 3600000, 0},
};

}  // namespace

std::span<const RegionInfo> Regions() { return kRegions; }

const RegionInfo* FindRegion(std::string_view id) {
  for (const RegionInfo& region : kRegions) {
    if (region.id == id) return &region;
  }
  return nullptr;
}

std::vector<std::string> ZonesOf(const RegionInfo& region) {
  std::vector<std::string> zones;
  const bool dashed = region.id.starts_with("cn-");
  for (char letter : region.zone_letters) {
    std::string zone(region.id);
    if (dashed) zone.push_back('-');
    zone.push_back(letter);
    zones.push_back(std::move(zone));
  }
  return zones;
}

std::string ZoneLocalName(const RegionInfo& region, char letter) {
  std::string name(region.local_name);
  name += " 可用区 ";
  name.push_back(static_cast<char>(letter - 'a' + 'A'));
  return name;
}

const std::vector<InstanceTypeInfo>& InstanceTypes() {
  static const std::vector<InstanceTypeInfo> kTypes = BuildInstanceTypes();
  return kTypes;
}

std::span<const FamilyInfo> InstanceTypeFamilies() {
  static const std::vector<FamilyInfo> kFamilyInfos = [] {
    std::vector<FamilyInfo> out;
    for (const FamilySpec& family : kFamilies) out.push_back({family.id, family.generation});
    return out;
  }();
  return kFamilyInfos;
}

World::World(std::int64_t now_ms, const SeedPlan& plan) {
  for (const RegionInfo& region : kRegions) {
    if (!plan.instances) SeedDefault(region, now_ms);
    for (const TaskSeed& seed : kTaskSeeds) {
      Task& task = CreateTask(region.id, seed.action, now_ms - seed.age_ms);
      if (seed.minutes_to_finish == 0) continue;
      task.status = "Finished";
      task.support_cancel = false;
      task.finished_ms = task.creation_ms + seed.minutes_to_finish * 60000;
    }
  }
  if (plan.instances) SeedMany(now_ms, plan);
}

void World::SeedDefault(const RegionInfo& region, std::int64_t now_ms) {
  const std::vector<std::string> zones = ZonesOf(region);
  int n = 0;
  for (const InstanceSeed& seed : kInstanceSeeds) {
    Instance& instance = AddInstance(region, zones[n % zones.size()], seed.image, seed.type,
                                     seed.status, now_ms - (30 - n) * kDay);
    instance.name = seed.name;
    instance.description = std::string(seed.name) + " (" + std::string(region.id) + ")";
    // The first instance of each region holds an elastic IP.
    if (n == 0) GiveElasticIp(instance);
    ++n;
  }
}

void World::SeedMany(std::int64_t now_ms, const SeedPlan& plan) {
  struct Dealt {
    const RegionInfo* region;
    std::vector<std::string> zones;
    std::size_t count = 0;
  };
  std::vector<Dealt> regions;
  for (const RegionInfo& region : kRegions) {
    if (plan.region.empty() || region.id == plan.region) {
      regions.push_back({&region, ZonesOf(region)});
    }
  }
  if (regions.empty()) return;
  const int total = std::clamp(*plan.instances, 0, SeedPlan::kMaxInstances);
  for (int k = 0; k < total; ++k) {
    Dealt& to = regions[static_cast<std::size_t>(k) % regions.size()];
    const InstanceSeed& seed = kInstanceSeeds[k % std::size(kInstanceSeeds)];
    // A minute apart, the last a minute ago: CreationTime follows the order.
    Instance& instance =
        AddInstance(*to.region, to.zones[to.count % to.zones.size()], seed.image, seed.type,
                    seed.status, now_ms - static_cast<std::int64_t>(total - k) * 60000);
    char name[32];
    std::snprintf(name, sizeof name, "instance-%06d", k + 1);
    instance.name = name;
    instance.description = instance.name + " (" + instance.region + ")";
    if (to.count++ == 0) GiveElasticIp(instance);
  }
}

void World::GiveElasticIp(Instance& instance) {
  instance.eip_allocation = RandomId("eip-");
  instance.eip_ip = Ip(47, 100 + static_cast<int>(serial_ % 100), 23, 45);
}

std::string World::RandomId(std::string_view prefix, std::size_t length) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string id(prefix);
  for (std::size_t i = 0; i < length; ++i) id.push_back(kChars[random_() % 36]);
  return id;
}

std::vector<const Instance*> World::InstancesIn(std::string_view region) const {
  std::vector<const Instance*> out;
  for (const Instance* instance : order_) {
    if (instance->region == region) out.push_back(instance);
  }
  return out;
}

Instance* World::FindInstance(std::string_view id) {
  const auto it = instances_.find(id);
  return it == instances_.end() ? nullptr : &it->second;
}

Instance* World::CreateInstance(std::string_view region, std::string_view zone,
                                std::string_view image_id, std::string_view type,
                                std::string_view status, std::int64_t now_ms) {
  const RegionInfo* region_info = FindRegion(region);
  if (region_info == nullptr || InstancesIn(region).size() >= kMaxInstancesPerRegion) {
    return nullptr;
  }
  return &AddInstance(*region_info, zone, image_id, type, status, now_ms);
}

Instance& World::AddInstance(const RegionInfo& region_info, std::string_view zone,
                             std::string_view image_id, std::string_view type,
                             std::string_view status, std::int64_t now_ms) {
  const std::string_view region = region_info.id;
  ++serial_;
  Instance instance;
  instance.id = RandomId("i-");
  instance.name = "launch-advisor-" + std::to_string(serial_);
  instance.host_name = "iZ" + instance.id.substr(2) + "Z";
  instance.status = status;
  instance.region = region;
  instance.zone = zone;
  instance.type = type;
  const std::size_t last_dot = instance.type.rfind('.');
  instance.family =
      last_dot == std::string::npos ? instance.type : instance.type.substr(0, last_dot);
  instance.cpu = 2;
  instance.memory_mib = 8192;
  for (const InstanceTypeInfo& info : InstanceTypes()) {
    if (info.id == type) {
      instance.cpu = info.cpu;
      instance.memory_mib = static_cast<int>(info.memory_gib * 1024);
    }
  }
  instance.image_id = image_id;
  const auto region_index = static_cast<std::size_t>(&region_info - kRegions.data());
  instance.vpc_id = "vpc-" + std::string(region.substr(0, 2)) + "0" + std::to_string(region_index) +
                    "simdefaultvpc";
  instance.vswitch_id = "vsw-" + std::string(zone) + "-sim";
  // The third octet wraps past 64,000 instances so every address stays valid.
  const int third = static_cast<int>(serial_ / 250 % 256);
  instance.private_ip =
      Ip(172, 16 + static_cast<int>(region_index), third, static_cast<int>(2 + serial_ % 250));
  instance.public_ip =
      Ip(47, 96 + static_cast<int>(region_index), third, static_cast<int>(10 + serial_ % 240));
  instance.security_group = "sg-" + std::string(region) + "-default";
  instance.serial = RandomId("", 8) + "-" + RandomId("", 4) + "-" + RandomId("", 4) + "-" +
                    RandomId("", 4) + "-" + RandomId("", 12);
  instance.user_data =
      Base64("#!/bin/bash\necho \"hello from " + instance.name + "\" > /var/tmp/hello.txt\n");
  instance.creation_ms = now_ms;
  instance.sequence = serial_;
  auto [it, inserted] = instances_.emplace(instance.id, std::move(instance));
  (void)inserted;
  order_.push_back(&it->second);
  return it->second;
}

bool World::DeleteInstance(std::string_view id) {
  const auto it = instances_.find(id);
  if (it == instances_.end()) return false;
  order_.erase(std::remove(order_.begin(), order_.end(), &it->second), order_.end());
  instances_.erase(it);
  return true;
}

void World::BeginTransition(Instance& instance, std::string_view passing, std::string_view final,
                            std::int64_t until_ms) {
  instance.status = passing;
  instance.settles_to = final;
  instance.settles_ms = until_ms;
  if (std::find(unsettled_.begin(), unsettled_.end(), instance.id) == unsettled_.end()) {
    unsettled_.push_back(instance.id);
  }
}

void World::Settle(std::int64_t now_ms) {
  // Only instances in transition are looked at: a request costs nothing more
  // however many instances there are.
  std::erase_if(unsettled_, [&](const std::string& id) {
    Instance* instance = FindInstance(id);
    if (instance == nullptr) return true;  // deleted meanwhile
    if (instance->settles_ms > now_ms) return false;
    instance->status = std::move(instance->settles_to);
    instance->settles_to.clear();
    return true;
  });
}

std::vector<const Task*> World::TasksIn(std::string_view region) const {
  std::vector<const Task*> out;
  for (const Task& task : tasks_) {
    if (task.region == region) out.push_back(&task);
  }
  return out;
}

Task* World::FindTask(std::string_view id) {
  for (Task& task : tasks_) {
    if (task.id == id) return &task;
  }
  return nullptr;
}

Task& World::CreateTask(std::string_view region, std::string_view action, std::int64_t now_ms) {
  // Keep memory bounded: drop the region's oldest finished task when full.
  if (TasksIn(region).size() >= kMaxTasksPerRegion) {
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
      if (it->region == region) {
        tasks_.erase(it);
        break;
      }
    }
  }
  Task task;
  task.id = RandomId("t-");
  task.region = region;
  task.action = action;
  task.status = "Processing";
  task.support_cancel = true;
  task.creation_ms = now_ms;
  tasks_.push_back(std::move(task));
  return tasks_.back();
}

}  // namespace kestrune::sim
