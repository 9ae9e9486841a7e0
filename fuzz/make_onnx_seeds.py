#!/usr/bin/python3
# Writes the seed models of fuzz_onnx_reader (tiny, one per family of
# operators the importer maps) into the folder given:
#   /usr/bin/python3 fuzz/make_onnx_seeds.py fuzz/corpus/fuzz_onnx_reader
# Needs numpy and python3-onnx.
import numpy as np, onnx, sys
from onnx import helper as h, TensorProto as T, numpy_helper as nh
out=sys.argv[1]
rng=np.random.default_rng(1)
def arr(*s): return (rng.integers(-4,5,size=s)*0.25).astype(np.float32)
def i64(name,v): return nh.from_array(np.array(v,dtype=np.int64),name)
def f32(name,a): return nh.from_array(a,name)
def vi(n,s): return h.make_tensor_value_info(n,T.FLOAT,s)
def save(name,nodes,ins,outs,inits,opset=13):
    m=h.make_model(h.make_graph(nodes,name,ins,outs,inits),opset_imports=[h.make_opsetid('',opset)],producer_name='')
    onnx.checker.check_model(m); onnx.save(m,f'{out}/{name}.onnx')
save('conv_relu',[h.make_node('Conv',['x','W','B'],['c'],name='conv',pads=[1,1,1,1],strides=[2,2]),
  h.make_node('Relu',['c'],['y'],name='relu')],[vi('x',[1,2,5,5])],[vi('y',[1,3,3,3])],[f32('W',arr(3,2,3,3)),f32('B',arr(3))])
save('dw_bn_pool',[h.make_node('Conv',['x','W'],['c'],name='dw',group=3,auto_pad='SAME_UPPER'),
  h.make_node('BatchNormalization',['c','s','b','m','v'],['n'],name='bn'),
  h.make_node('Clip',['n','lo','hi'],['r'],name='relu6'),
  h.make_node('MaxPool',['r'],['p'],name='pool',kernel_shape=[2,2],strides=[2,2],ceil_mode=1),
  h.make_node('GlobalAveragePool',['p'],['y'],name='gap')],[vi('x',[1,3,5,5])],[vi('y',[1,3,1,1])],
  [f32('W',arr(3,1,3,3)),f32('s',arr(3)),f32('b',arr(3)),f32('m',arr(3)),f32('v',np.ones(3,np.float32)),f32('lo',np.array(0,np.float32)),f32('hi',np.array(6,np.float32))])
save('flatten_gemm',[h.make_node('Flatten',['x'],['f'],name='flat'),h.make_node('Gemm',['f','W','B'],['g'],name='fc',transB=1),
  h.make_node('Softmax',['g'],['y'],name='sm',axis=1)],[vi('x',[1,2,2,2])],[vi('y',[1,4])],[f32('W',arr(4,8)),f32('B',arr(4))])
save('shuffle',[h.make_node('Shape',['x'],['sh'],name='shape'),h.make_node('Gather',['sh','i0'],['n'],name='g0',axis=0),
  h.make_node('Concat',['n','c5'],['s5'],name='cat5',axis=0),h.make_node('Reshape',['x','s5'],['a'],name='r5'),
  h.make_node('Transpose',['a'],['t'],name='tr',perm=[0,2,1,3,4]),h.make_node('Reshape',['t','s4'],['y'],name='r4')],
  [vi('x',[1,4,2,2])],[vi('y',[1,4,2,2])],[i64('i0',[0]),i64('c5',[2,2,2,2]),i64('s4',[1,4,2,2])])
save('resize_concat',[h.make_node('Resize',['x','','sc'],['u'],name='up',mode='nearest',coordinate_transformation_mode='asymmetric',nearest_mode='floor'),
  h.make_node('ConvTranspose',['x','D'],['d'],name='deconv',strides=[2,2]),
  h.make_node('Concat',['u','d'],['y'],name='cat',axis=1)],[vi('x',[1,2,2,2])],[vi('y',[1,3,4,4])],
  [f32('sc',np.array([1,1,2,2],np.float32)),f32('D',arr(2,1,2,2))])
save('pad_slice_split',[h.make_node('Pad',['x','pads'],['p'],name='pad'),
  h.make_node('Slice',['p','st','en','ax'],['s'],name='slice'),
  h.make_node('Split',['s','sp'],['a','b'],name='split',axis=1),
  h.make_node('Mul',['a','k'],['m'],name='mul'),h.make_node('Sub',['m','b'],['y'],name='sub')],
  [vi('x',[1,4,3,3])],[vi('y',[1,2,4,5])],
  [i64('pads',[0,0,1,1,0,0,1,1]),i64('st',[1]),i64('en',[99]),i64('ax',[2]),i64('sp',[2,2]),f32('k',arr(2,1,1))])
save('matmul_add',[h.make_node('MatMul',['x','W'],['m'],name='mm'),h.make_node('Add',['m','B'],['a'],name='add'),
  h.make_node('LeakyRelu',['a'],['l'],name='lrelu'),h.make_node('PRelu',['l','sl'],['y'],name='prelu')],
  [vi('x',[1,6])],[vi('y',[1,3])],[f32('W',arr(6,3)),f32('B',arr(3)),f32('sl',arr(3))])
