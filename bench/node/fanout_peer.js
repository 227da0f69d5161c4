// Benchmark peer: the vendor's Node SDK doing what `kestrune call ecs
// DescribeInstances --regions …` does: DescribeInstances for every region,
// all at once. With a list of region ids it calls those; without one it
// first asks DescribeRegions, as `--regions all` does. Exits non-zero unless
// every reply is good; the caller times the whole process.
//   node fanout_peer.js HOST:PORT [ID,ID,...]
'use strict';

const RPCClient = require('@alicloud/pop-core').RPCClient;

(async () => {
  const client = new RPCClient({
    accessKeyId: process.env.ALIBABA_CLOUD_ACCESS_KEY_ID,
    accessKeySecret: process.env.ALIBABA_CLOUD_ACCESS_KEY_SECRET,
    endpoint: 'http://' + process.argv[2],
    apiVersion: '2014-05-26',
  });
  let regions;
  if (process.argv[3]) {
    regions = process.argv[3].split(',');
  } else {
    const listed = await client.request('DescribeRegions', {}, { method: 'GET' });
    regions = listed.Regions.Region.map((region) => region.RegionId);
  }
  const replies = await Promise.all(regions.map((id) =>
    client.request('DescribeInstances', { RegionId: id }, { method: 'GET' })));
  if (replies.length !== regions.length || !replies.every((reply) => reply.RequestId)) {
    throw new Error('a reply without a RequestId');
  }
})().catch((e) => { console.error(e.message); process.exit(1); });
