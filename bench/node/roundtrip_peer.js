// Benchmark peer: the vendor's Node SDK sending DescribeRegions to the same
// local simulator, one request after another. Prints the median and 99th
// percentile in microseconds.
//   node roundtrip_peer.js HOST:PORT [REQUESTS]
'use strict';

const RPCClient = require('@alicloud/pop-core').RPCClient;

(async () => {
  const address = process.argv[2];
  const count = Number(process.argv[3] || 500);
  const client = new RPCClient({
    accessKeyId: 'kestrune-demo-id',
    accessKeySecret: 'kestrune-demo-secret',
    endpoint: 'http://' + address,
    apiVersion: '2014-05-26',
  });
  for (let i = 0; i < 50; i++) await client.request('DescribeRegions', {}, { method: 'GET' });
  const samples = [];
  for (let i = 0; i < count; i++) {
    const start = process.hrtime.bigint();
    const reply = await client.request('DescribeRegions', {}, { method: 'GET' });
    samples.push(Number(process.hrtime.bigint() - start) / 1000);
    if (!reply.RequestId) throw new Error('no RequestId in the reply');
  }
  samples.sort((a, b) => a - b);
  console.log('node_median_us ' + samples[Math.floor(count / 2)].toFixed(1));
  console.log('node_p99_us ' + samples[Math.floor(count * 99 / 100)].toFixed(1));
})().catch((e) => { console.error(e.message); process.exit(1); });
